// What every object of the framework offers through IWDFObject: deletion, a context and the
// object's lock. The host's objects (driver, device, queue, request, memory, file) derive from
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
    // The drivers this host serves keep their state in their own objects, never in a context.
    HRESULT STDMETHODCALLTYPE AssignContext(IObjectCleanup*, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RetrieveContext(void**) override { return E_NOTIMPL; }
    // The object's lock, recursive as a driver may take it again while it holds it.
    void STDMETHODCALLTYPE AcquireLock() override { objectLock_.lock(); }
    void STDMETHODCALLTYPE ReleaseLock() override { objectLock_.unlock(); }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IWDFObject); }

  private:
    std::recursive_mutex objectLock_;
};

}  // namespace zntr::host
