#include "portable_values.h"

#include <type_traits>

#include "standin/com_helpers.h"
#include "standin/combaseapi.h"
#include "standin/propvarutil.h"
#include "standin/shlwapi.h"
#include "standin/wrl_client.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;
using zntr::platform::PropVariant;
namespace message = zntr::sensor_message;

HRESULT ToMessageValue(const PROPVARIANT& source, message::Value* value) {
    switch (source.vt) {
        case VT_EMPTY:
            *value = std::monostate{};
            return S_OK;
        case VT_R8:
            *value = source.dblVal;
            return S_OK;
        case VT_R4:
            *value = source.fltVal;
            return S_OK;
        case VT_I4:
            *value = static_cast<std::int32_t>(source.lVal);
            return S_OK;
        case VT_UI4:
            *value = static_cast<std::uint32_t>(source.ulVal);
            return S_OK;
        case VT_LPWSTR:
            *value = std::wstring(source.pwszVal != nullptr ? source.pwszVal : L"");
            return S_OK;
        case VT_CLSID:
            *value = source.puuid != nullptr ? *source.puuid : GUID_NULL;
            return S_OK;
        case VT_FILETIME:
            *value = message::FileTime{
                (static_cast<std::uint64_t>(source.filetime.dwHighDateTime) << 32) |
                source.filetime.dwLowDateTime};
            return S_OK;
        case VT_VECTOR | VT_UI1:
            *value =
                source.caub.pElems == nullptr
                    ? message::Bytes()
                    : message::Bytes(source.caub.pElems, source.caub.pElems + source.caub.cElems);
            return S_OK;
        case VT_ERROR:
            *value = message::ErrorCode{source.scode};
            return S_OK;
        case VT_BOOL:
            *value = source.boolVal != VARIANT_FALSE;
            return S_OK;
        default:
            return DISP_E_BADVARTYPE;
    }
}

HRESULT ToPropVariant(const message::Value& value, PROPVARIANT* target) {
    PropVariantInit(target);
    return std::visit(
        [target](const auto& v) -> HRESULT {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return S_OK;
            } else if constexpr (std::is_same_v<T, double>) {
                target->vt = VT_R8;
                target->dblVal = v;
            } else if constexpr (std::is_same_v<T, float>) {
                target->vt = VT_R4;
                target->fltVal = v;
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                target->vt = VT_I4;
                target->lVal = v;
            } else if constexpr (std::is_same_v<T, std::uint32_t>) {
                target->vt = VT_UI4;
                target->ulVal = v;
            } else if constexpr (std::is_same_v<T, std::wstring>) {
                const HRESULT hr = SHStrDupW(v.c_str(), &target->pwszVal);
                if (FAILED(hr)) {
                    return hr;
                }
                target->vt = VT_LPWSTR;
            } else if constexpr (std::is_same_v<T, GUID>) {
                auto* guid = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
                if (guid == nullptr) {
                    return E_OUTOFMEMORY;
                }
                *guid = v;
                target->vt = VT_CLSID;
                target->puuid = guid;
            } else if constexpr (std::is_same_v<T, message::FileTime>) {
                const FILETIME time{static_cast<DWORD>(v.ticks), static_cast<DWORD>(v.ticks >> 32)};
                return InitPropVariantFromFileTime(&time, target);
            } else if constexpr (std::is_same_v<T, message::Bytes>) {
                return InitPropVariantFromBuffer(v.data(), static_cast<UINT>(v.size()), target);
            } else if constexpr (std::is_same_v<T, message::ErrorCode>) {
                target->vt = VT_ERROR;
                target->scode = v.code;
            } else if constexpr (std::is_same_v<T, bool>) {
                target->vt = VT_BOOL;
                target->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        },
        value);
}

HRESULT ReadValues(IPortableDeviceValues* values, message::ValueList* list) {
    list->clear();
    if (values == nullptr) {
        return E_POINTER;
    }
    DWORD count = 0;
    HRESULT hr = values->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        message::KeyedValue entry;
        PropVariant value;
        hr = values->GetAt(i, &entry.key, &value);
        if (SUCCEEDED(hr) && FAILED(ToMessageValue(value, &entry.value))) {
            entry.value = message::ErrorCode{DISP_E_BADVARTYPE};
        }
        list->push_back(std::move(entry));
    }
    return hr;
}

HRESULT ReadKeys(IPortableDeviceKeyCollection* keys, std::vector<PROPERTYKEY>* list) {
    list->clear();
    if (keys == nullptr) {
        return E_POINTER;
    }
    DWORD count = 0;
    HRESULT hr = keys->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key{};
        hr = keys->GetAt(i, &key);
        list->push_back(key);
    }
    return hr;
}

HRESULT ReadValueLists(IPortableDeviceValuesCollection* collection,
                       std::vector<message::ValueList>* lists) {
    lists->clear();
    if (collection == nullptr) {
        return E_POINTER;
    }
    DWORD count = 0;
    HRESULT hr = collection->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        ComPtr<IPortableDeviceValues> values;
        hr = collection->GetAt(i, values.GetAddressOf());
        if (SUCCEEDED(hr)) {
            message::ValueList list;
            hr = ReadValues(values.Get(), &list);
            lists->push_back(std::move(list));
        }
    }
    return hr;
}

HRESULT MakeKeyCollection(const std::vector<PROPERTYKEY>& keys,
                          IPortableDeviceKeyCollection** collection) {
    ComPtr<IPortableDeviceKeyCollection> made;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceKeyCollection,
                                  reinterpret_cast<void**>(made.GetAddressOf()));
    for (std::size_t i = 0; SUCCEEDED(hr) && i < keys.size(); ++i) {
        hr = made->Add(keys[i]);
    }
    *collection = SUCCEEDED(hr) ? made.Detach() : nullptr;
    return hr;
}

HRESULT MakeValues(const message::ValueList& list, IPortableDeviceValues** values) {
    ComPtr<IPortableDeviceValues> made;
    HRESULT hr =
        CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceValues, reinterpret_cast<void**>(made.GetAddressOf()));
    for (std::size_t i = 0; SUCCEEDED(hr) && i < list.size(); ++i) {
        PropVariant value;
        hr = ToPropVariant(list[i].value, &value);
        if (SUCCEEDED(hr)) {
            hr = made->SetValue(list[i].key, &value);
        }
    }
    *values = SUCCEEDED(hr) ? made.Detach() : nullptr;
    return hr;
}

}  // namespace zntr::host
