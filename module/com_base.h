// The reference counting and QueryInterface of the driver's COM objects (the sensor object, and
// the driver, device and queue callback objects). Written once here so that no class repeats it.
#pragma once

#include <atomic>
#include <initializer_list>

#include "driver_platform.h"

// One interface an object answers in QueryInterface, and where it lives in the object.
struct cInterfaceEntry {
    const IID& mIid;
    IUnknown* mpInterface;
};

// Base of a driver object that implements the given interfaces. The count is changed with
// interlocked (atomic) operations, since objects are used from several threads. An object starts
// with a count of 0; whoever creates it takes the first reference, and the last Release deletes
// it through the virtual destructor.
template <typename... Interfaces>
class cComBase : public Interfaces... {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(mRefCount.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG remaining = mRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            delete this;
        }
        return static_cast<ULONG>(remaining);
    }

  protected:
    cComBase() = default;
    virtual ~cComBase() = default;
    cComBase(const cComBase&) = delete;
    cComBase& operator=(const cComBase&) = delete;

    // QueryInterface over the object's table of interfaces. IUnknown is answered with the first
    // entry, so that every query for IUnknown gives the same pointer (COM's identity rule).
    HRESULT AnswerQueryInterface(REFIID riid, void** ppv,
                                 std::initializer_list<cInterfaceEntry> interfaces) {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        for (const cInterfaceEntry& entry : interfaces) {
            if (IsEqualIID(riid, entry.mIid) ||
                (IsEqualIID(riid, IID_IUnknown) && &entry == interfaces.begin())) {
                *ppv = entry.mpInterface;
                entry.mpInterface->AddRef();
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }

  private:
    std::atomic<LONG> mRefCount{0};
};
