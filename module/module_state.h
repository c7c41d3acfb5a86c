// The module as a whole: its own lock, a critical section set up when the module is loaded
// (before its entry routine runs) that guards the creation of class factories; whether that
// set-up worked; and the clean-up callbacks that run when the module ends.
#pragma once

#include "driver_platform.h"

class cModule {
  public:
    // A clean-up callback and what it is given.
    typedef void (*TermFunction)(void* pContext);

    cModule();
    ~cModule();
    cModule(const cModule&) = delete;
    cModule& operator=(const cModule&) = delete;

    // Whether the module's lock was set up and the module has not ended.
    bool IsInitialized() const { return mInitialized; }
    // Whether the lock could not be set up when the module was loaded.
    bool InitializationFailed() const { return mInitializationFailed; }
    CRITICAL_SECTION& Lock() { return mLock; }

    // Adds a callback that Term runs; the caller holds the module's lock. Callbacks run in the
    // reverse order of their adding. False when the list is full.
    bool AddTermFunction(TermFunction pFunction, void* pContext);
    // Ends the module: runs the clean-up callbacks, then deletes the lock. Called once, on
    // process detach.
    void Term();

  private:
    static constexpr int MAX_TERM_FUNCTIONS = 8;
    struct cTermEntry {
        TermFunction mpFunction;
        void* mpContext;
    };

    CRITICAL_SECTION mLock;
    bool mInitialized;
    bool mInitializationFailed;
    cTermEntry mTermFunctions[MAX_TERM_FUNCTIONS];
    int mTermFunctionCount;
};

// The module's one instance, constructed when the module is loaded.
extern cModule gModule;
