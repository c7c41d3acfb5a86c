// What every object of the framework offers through IWDFObject: one context, the object's lock,
// and deletion. The host's objects (driver, device, queue, request, memory, file) derive from
// this; their own interfaces form one chain ending in IWDFObject.
#pragma once

#include <mutex>

#include "standin/com_helpers.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::host {

template <typename Interface>
class FrameworkObject : public zntr::platform::ComObject<Interface> {
  public:
    // The objects the host hands out are made and deleted by the framework itself (a device is
    // deleted when it is removed, a request when it is completed), so a driver cannot delete
    // them early.
    HRESULT STDMETHODCALLTYPE DeleteWdfObject() override { return E_NOTIMPL; }

    // One context per object; a second assignment is refused. The cleanup callback belongs to
    // the object's deletion, which the framework runs without calling back into it here.
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup* /*pCleanupCallback*/,
                                            void* ContextData) override {
        std::lock_guard<std::mutex> lock(contextMutex_);
        if (contextAssigned_) {
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
        context_ = ContextData;
        contextAssigned_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void** ppvContextData) override {
        if (ppvContextData == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(contextMutex_);
        *ppvContextData = context_;
        return contextAssigned_ ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    // The object's lock. For a device whose locking constraint is WdfDeviceLevel the framework
    // holds it around the queue and file callbacks it makes; it is recursive, as a driver may
    // take it again inside such a callback.
    void STDMETHODCALLTYPE AcquireLock() override { objectLock_.lock(); }
    void STDMETHODCALLTYPE ReleaseLock() override { objectLock_.unlock(); }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IWDFObject); }

  private:
    std::recursive_mutex objectLock_;
    std::mutex contextMutex_;
    bool contextAssigned_ = false;
    void* context_ = nullptr;
};

}  // namespace zntr::host
