// Microsoft::WRL::ComPtr, the Windows SDK's smart pointer for COM interfaces: it holds one
// reference and releases it when it goes, so no path out of a scope leaks or drops a reference.
// The members here are those of the SDK's ComPtr that this project uses; As<U>() is left out
// because it needs __uuidof, which only the Microsoft compiler has (AsIID and CopyTo with an
// interface identifier do the same).
#pragma once

#include <cstddef>
#include <utility>

#include "standin/unknwn.h"

namespace Microsoft::WRL {

template <typename T>
class ComPtr {
  public:
    typedef T InterfaceType;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own on p.
    ComPtr(T* p) noexcept : ptr_(p) { InternalAddRef(); }
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) { InternalAddRef(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
    template <typename U>
    ComPtr(const ComPtr<U>& other) noexcept : ptr_(other.Get()) {
        InternalAddRef();
    }
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(std::nullptr_t) noexcept {
        InternalRelease();
        return *this;
    }
    ComPtr& operator=(T* p) noexcept {
        if (ptr_ != p) {
            ComPtr(p).Swap(*this);
        }
        return *this;
    }
    ComPtr& operator=(const ComPtr& other) noexcept {
        if (ptr_ != other.ptr_) {
            ComPtr(other).Swap(*this);
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    T* const* GetAddressOf() const noexcept { return &ptr_; }
    T** GetAddressOf() noexcept { return &ptr_; }
    // Releases what is held, then gives the address for a function that stores a new reference.
    T** ReleaseAndGetAddressOf() noexcept {
        InternalRelease();
        return &ptr_;
    }

    // Hands the reference over to the caller.
    T* Detach() noexcept {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }
    // Takes over a reference the caller owns (no AddRef).
    void Attach(T* p) noexcept {
        InternalRelease();
        ptr_ = p;
    }
    // Releases the reference; returns the count the object reported.
    ULONG Reset() noexcept { return InternalRelease(); }

    // A further reference for the caller.
    HRESULT CopyTo(T** pp) const noexcept {
        InternalAddRef();
        *pp = ptr_;
        return S_OK;
    }
    HRESULT CopyTo(REFIID riid, void** ppv) const noexcept {
        return ptr_->QueryInterface(riid, ppv);
    }
    HRESULT AsIID(REFIID riid, ComPtr<IUnknown>* p) const noexcept {
        return ptr_->QueryInterface(riid, reinterpret_cast<void**>(p->ReleaseAndGetAddressOf()));
    }

  private:
    void InternalAddRef() const noexcept {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
    }
    ULONG InternalRelease() noexcept {
        ULONG count = 0;
        T* p = ptr_;
        if (p != nullptr) {
            // Cleared before the release, which may destroy an object that looks at this pointer.
            ptr_ = nullptr;
            count = p->Release();
        }
        return count;
    }

    T* ptr_ = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return static_cast<IUnknown*>(a.Get()) == static_cast<IUnknown*>(b.Get());
}
template <typename T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.Get() == nullptr;
}

}  // namespace Microsoft::WRL
