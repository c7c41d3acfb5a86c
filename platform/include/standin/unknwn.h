// IUnknown and IClassFactory, the two interfaces every COM object and class object carries.
//
// Interfaces are declared as the Windows SDK declares them: abstract structs whose virtual
// functions, in declaration order, are the vtable slots. They have no virtual destructor (that
// would add slots); an object is released, never deleted through an interface pointer, and the
// protected destructor each interface declares says so.
#pragma once

#include "standin/windef.h"
#include "standin/winerror.h"

// The protected, non-virtual destructor of a COM interface declaration.
#define ZNTR_COM_INTERFACE_DESTRUCTOR(Interface) \
  protected:                                     \
    ~Interface() = default;                      \
                                                 \
  public:

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IUnknown)
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IClassFactory)
};
