// The Windows Portable Devices value collections, in which every key and value crosses the
// boundary between a sensor driver and the sensor platform. The stand-in implements the three
// classes below as in-process components created with CoCreateInstance; each is safe to use
// from several threads at once.
//
// Behaviour kept from Windows:
//  - IPortableDeviceValues holds each key once. Every Set* adds the key or replaces its value in
//    place (the key keeps its position); GetAt walks the keys in the order they were added.
//  - GetValue of a key that is not held fails with HRESULT_FROM_WIN32(ERROR_NOT_FOUND). Values
//    handed out are copies that the caller clears.
//  - GetAt with an index past the end fails with E_INVALIDARG; its out-parameters are optional.
//  - IPortableDeviceKeyCollection keeps keys in the order added, duplicates included.
//  - IPortableDeviceValuesCollection holds references to the values objects added, not copies.
// The stand-in implements the methods that programs call (the values' GetCount, GetAt, SetValue,
// GetValue, Clear and the string, unsigned, error and GUID setters; the collections' GetCount,
// GetAt, Add, and the key collection's Clear); every other method answers E_NOTIMPL.
#pragma once

#include "standin/propidl.h"
#include "standin/propkeydef.h"
#include "standin/unknwn.h"

// The property system's store, which two methods of IPortableDeviceValues name.
struct IPropertyStore;

// {0C15D503-D017-47CE-9016-7B3F978721CC}
inline constexpr CLSID CLSID_PortableDeviceValues = {
    0x0C15D503, 0xD017, 0x47CE, {0x90, 0x16, 0x7B, 0x3F, 0x97, 0x87, 0x21, 0xCC}};
// {DE2D022D-2480-43BE-97F0-D1FA2CF98F4F}
inline constexpr CLSID CLSID_PortableDeviceKeyCollection = {
    0xDE2D022D, 0x2480, 0x43BE, {0x97, 0xF0, 0xD1, 0xFA, 0x2C, 0xF9, 0x8F, 0x4F}};
// {3882134D-14CF-4220-9CB4-435F86D83F60}
inline constexpr CLSID CLSID_PortableDeviceValuesCollection = {
    0x3882134D, 0x14CF, 0x4220, {0x9C, 0xB4, 0x43, 0x5F, 0x86, 0xD8, 0x3F, 0x60}};
// {08A99E2F-6D6D-4B80-AF5A-BAF2BCBE4CB9}
inline constexpr CLSID CLSID_PortableDevicePropVariantCollection = {
    0x08A99E2F, 0x6D6D, 0x4B80, {0xAF, 0x5A, 0xBA, 0xF2, 0xBC, 0xBE, 0x4C, 0xB9}};

// {6848F6F2-3155-4F86-B6F5-263EEEAB3143}
inline constexpr IID IID_IPortableDeviceValues = {
    0x6848F6F2, 0x3155, 0x4F86, {0xB6, 0xF5, 0x26, 0x3E, 0xEE, 0xAB, 0x31, 0x43}};
// {DADA2357-E0AD-492E-98DB-DD61C53BA353}
inline constexpr IID IID_IPortableDeviceKeyCollection = {
    0xDADA2357, 0xE0AD, 0x492E, {0x98, 0xDB, 0xDD, 0x61, 0xC5, 0x3B, 0xA3, 0x53}};
// {6E3F2D79-4E07-48C4-8208-D8C2E5AF4A99}
inline constexpr IID IID_IPortableDeviceValuesCollection = {
    0x6E3F2D79, 0x4E07, 0x48C4, {0x82, 0x08, 0xD8, 0xC2, 0xE5, 0xAF, 0x4A, 0x99}};
// {89B2E422-4F1B-4316-BCEF-A44AFEA83EB3}
inline constexpr IID IID_IPortableDevicePropVariantCollection = {
    0x89B2E422, 0x4F1B, 0x4316, {0xBC, 0xEF, 0xA4, 0x4A, 0xFE, 0xA8, 0x3E, 0xB3}};

// Declared for the signatures of IPortableDeviceValues; the stand-in has no component for it.
struct IPortableDevicePropVariantCollection;
struct IPortableDeviceKeyCollection;
struct IPortableDeviceValuesCollection;

struct IPortableDeviceValues : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcelt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* pKey,
                                            PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                              const ULONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                              ULONG* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key,
                                                            const LONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                   const ULONGLONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                   ULONGLONG* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                 const LONGLONG Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                                 LONGLONG* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, const FLOAT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key, REFPROPERTYKEY Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key, PROPERTYKEY* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const BOOL Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, BOOL* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown** ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID Value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* pValue,
                                                     DWORD cbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** ppValue,
                                                     DWORD* pcbValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues** ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection** ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection** ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection* pValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection** ppValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore* pStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore* pStore) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPortableDeviceValues)
};

struct IPortableDeviceKeyCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex, PROPERTYKEY* pKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY Key) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPortableDeviceKeyCollection)
};

struct IPortableDeviceValuesCollection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                            IPortableDeviceValues** ppValues) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(IPortableDeviceValues* pValues) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
    ZNTR_COM_INTERFACE_DESTRUCTOR(IPortableDeviceValuesCollection)
};
