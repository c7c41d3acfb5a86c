// Helpers for the COM objects of the stand-in itself and of the framework host: a base that
// counts references and answers QueryInterface, and holders that clear a PROPVARIANT or free
// task memory when they go. Not a Windows header; driver code has its own base in module/.
#pragma once

#include <atomic>
#include <new>

#include "standin/combaseapi.h"
#include "standin/propidl.h"
#include "standin/unknwn.h"

// A method of an interface that no program calls: it keeps its slot of the interface's table
// (the layout is the interface's) and answers E_NOTIMPL.
#define ZNTR_COM_NOT_IMPLEMENTED(Method, ...)                \
    HRESULT STDMETHODCALLTYPE Method(__VA_ARGS__) override { \
        return E_NOTIMPL;                                    \
    }

namespace zntr::platform {

// Reference counting and QueryInterface for an object whose interfaces form one inheritance
// chain ending in Interface. The count is changed atomically, since objects are shared between
// threads; an object starts with one reference, its creator's, and deletes itself when the last
// one is released.
template <typename Interface>
class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (!IsEqualIID(riid, IID_IUnknown) && !Answers(riid)) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return references_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG remaining = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Whether the object answers this interface identifier (IUnknown is always answered).
    virtual bool Answers(REFIID riid) const = 0;

  private:
    std::atomic<ULONG> references_{1};
};

// Creates an object with new and hands the interface riid to the caller: the COM creation idiom
// (the creator's own reference is dropped once the caller holds one).
template <typename Object, typename... Arguments>
HRESULT CreateComObject(REFIID riid, void** ppv, Arguments&&... arguments) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    Object* object = new (std::nothrow) Object(static_cast<Arguments&&>(arguments)...);
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// A PROPVARIANT that is cleared when it goes.
class PropVariant : public PROPVARIANT {
  public:
    PropVariant() { PropVariantInit(this); }
    ~PropVariant() { PropVariantClear(this); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;
    void Clear() { PropVariantClear(this); }
};

// Task memory (CoTaskMemAlloc) freed when the holder goes.
template <typename T>
class TaskMemory {
  public:
    TaskMemory() = default;
    explicit TaskMemory(T* p) : p_(p) {}
    ~TaskMemory() { CoTaskMemFree(p_); }
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;

    T* get() const { return p_; }
    T** put() {
        CoTaskMemFree(p_);
        p_ = nullptr;
        return &p_;
    }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

  private:
    T* p_ = nullptr;
};

}  // namespace zntr::platform
