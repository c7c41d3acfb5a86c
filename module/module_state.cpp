#include "module_state.h"

cModule gModule;

// Since Vista the set-up of a critical section always succeeds; the mark is kept for the entry
// routine, which refuses the process attach of a module whose set-up failed.
cModule::cModule()
    : mInitialized(false), mInitializationFailed(false), mTermFunctions{}, mTermFunctionCount(0) {
    if (InitializeCriticalSectionAndSpinCount(&mLock, 0) != FALSE) {
        mInitialized = true;
    } else {
        mInitializationFailed = true;
    }
}

// A module unloaded without its process detach still gives its lock back.
cModule::~cModule() {
    if (mInitialized) {
        Term();
    }
}

bool cModule::AddTermFunction(TermFunction pFunction, void* pContext) {
    if (mTermFunctionCount == MAX_TERM_FUNCTIONS) {
        return false;
    }
    mTermFunctions[mTermFunctionCount++] = {pFunction, pContext};
    return true;
}

void cModule::Term() {
    if (!mInitialized) {
        return;
    }
    while (mTermFunctionCount > 0) {
        const cTermEntry& entry = mTermFunctions[--mTermFunctionCount];
        entry.mpFunction(entry.mpContext);
    }
    mInitialized = false;
    DeleteCriticalSection(&mLock);
}
