// IPropertyStore: the property system's store of property keys and values. The stand-in has no
// component of its own that implements it; the Portable Devices value collections copy to and
// from any implementation a caller passes.
#pragma once

#include "standin/propidl.h"
#include "standin/propkeydef.h"
#include "standin/unknwn.h"

// {886D8EEB-8CF2-4446-8D02-CDBA1DBDCF99}
inline constexpr IID IID_IPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};

struct IPropertyStore : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* cProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD iProp, PROPERTYKEY* pkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pv) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT propvar) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPropertyStore)
};
