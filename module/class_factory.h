// The module's class factory and its table of classes: one row, the driver class, whose objects
// are cMainDriver. DllGetClassObject finds a row by its class identifier and makes the row's
// factory once, under the module's lock.
#pragma once

#include <atomic>

#include "com_base.h"
#include "driver_platform.h"
#include "heap_object.h"

// A class's creator: a new object asked for riid.
typedef HRESULT (*ObjectCreator)(REFIID riid, void** ppv);

class cClassFactory : public cComBase<IClassFactory>, public cHeapObject {
  public:
    // A factory for the creator, with one reference for the caller; E_OUTOFMEMORY when the heap
    // has no room.
    static HRESULT CreateInstance(ObjectCreator pCreator, cClassFactory** ppFactory);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;

    // E_POINTER for a null result pointer; CLASS_E_NOAGGREGATION when an outer object is given
    // (the driver class cannot be aggregated); otherwise the creator's result.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    // TRUE adds one to the module lock count, FALSE removes one; S_OK.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

  private:
    explicit cClassFactory(ObjectCreator pCreator) : mpCreator(pCreator) {}
    ~cClassFactory() override = default;

    ObjectCreator mpCreator;
};

// One class the module serves: its identifier, its creator and, once made, its factory, which
// the module holds one reference on until it ends.
struct cClassEntry {
    const CLSID* mpClsid;
    ObjectCreator mpCreator;
    std::atomic<cClassFactory*> mpFactory{nullptr};
};

// The row of the class, or null when the module does not serve it (all sixteen bytes compared).
cClassEntry* FindClassEntry(REFCLSID rclsid);

// The row's factory, made under the module's lock the first time it is asked for (with a check
// before and inside the lock, so that only one is ever made). Not counted for the caller.
HRESULT GetClassFactory(cClassEntry& entry, cClassFactory** ppFactory);
