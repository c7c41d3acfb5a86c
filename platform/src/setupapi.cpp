// The Setup API's device enumeration over the device database: device information sets of
// device interfaces, their paths, and the friendly-name and instance-ID properties.
#include "standin/setupapi.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device_database.h"
#include "standin/device_database_control.h"
#include "standin/devpkey.h"
#include "standin/errhandlingapi.h"
#include "standin/handleapi.h"
#include "standin/winerror.h"

namespace {

using zntr::platform::detail::DeviceDatabase;
using zntr::platform::detail::DeviceInterfaceRecord;
using zntr::platform::detail::DeviceRecord;

// A set: the devices it holds and, in the database's order, their interfaces of the set's
// classes. SP_DEVINFO_DATA.DevInst is a device's index + 1; SP_DEVICE_INTERFACE_DATA.Reserved is
// an interface's index + 1, and SP_DEVINFO_DATA.Reserved the set's handle, so that data of
// another set is refused.
struct InterfaceEntry {
    size_t device;
    const DeviceInterfaceRecord* record;
};

struct DeviceInfoSet {
    std::vector<DeviceRecord> devices;
    std::vector<InterfaceEntry> interfaces;
};

// Set handles are not kernel handles: they come from a range of their own, far above the kernel
// table's small numbers, so that CloseHandle refuses them as Windows does.
constexpr std::uintptr_t kFirstSetHandle = 0x5E7000000000u;

struct SetTable {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<const DeviceInfoSet>> sets;
    std::uintptr_t next = kFirstSetHandle;
};

SetTable& Sets() {
    static SetTable table;
    return table;
}

std::shared_ptr<const DeviceInfoSet> LookupSet(HDEVINFO handle) {
    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.sets.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.sets.end() ? nullptr : found->second;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](WCHAR x, WCHAR y) {
               return std::towlower(static_cast<wint_t>(x)) ==
                      std::towlower(static_cast<wint_t>(y));
           });
}

// Enumerator given as an instance ID, or as the enumerator part that begins one.
bool MatchesEnumerator(const std::wstring& instanceId, PCWSTR enumerator) {
    const std::wstring_view wanted(enumerator);
    if (EqualNoCase(instanceId, wanted)) {
        return true;
    }
    return instanceId.size() > wanted.size() && instanceId[wanted.size()] == L'\\' &&
           EqualNoCase(std::wstring_view(instanceId).substr(0, wanted.size()), wanted);
}

// The device an SP_DEVINFO_DATA names in the set, or an error.
DWORD FindDevice(const DeviceInfoSet& set, HDEVINFO handle, const SP_DEVINFO_DATA* data,
                 size_t* device) {
    if (data == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return ERROR_INVALID_USER_BUFFER;
    }
    if (data->Reserved != reinterpret_cast<ULONG_PTR>(handle) || data->DevInst == 0 ||
        data->DevInst > set.devices.size()) {
        return ERROR_INVALID_PARAMETER;
    }
    *device = data->DevInst - 1;
    return ERROR_SUCCESS;
}

void DescribeDevice(HDEVINFO handle, size_t device, SP_DEVINFO_DATA* data) {
    // The database records no setup classes; GUID_NULL is the class of a device without one.
    data->ClassGuid = GUID_NULL;
    data->DevInst = static_cast<DWORD>(device + 1);
    data->Reserved = reinterpret_cast<ULONG_PTR>(handle);
}

}  // namespace

namespace zntr::platform {

std::size_t CountDeviceInfoSets() {
    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.sets.size();
}

}  // namespace zntr::platform

// DIGCF_DEFAULT and DIGCF_PROFILE are accepted and change nothing: the database marks no
// interface as its class's default and has one hardware profile.
extern "C" HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator,
                                                HWND /*hwndParent*/, DWORD Flags) {
    // The stand-in makes sets of device interfaces only, the one kind the driver asks for.
    if ((Flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    const bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
    if (ClassGuid == nullptr && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    std::optional<DeviceDatabase> database = zntr::platform::detail::LoadDeviceDatabase(&error);
    if (!database) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }

    auto set = std::make_shared<DeviceInfoSet>();
    for (DeviceRecord& device : database->devices) {
        if (((Flags & DIGCF_PRESENT) != 0 && !device.present) ||
            (Enumerator != nullptr && !MatchesEnumerator(device.instanceId, Enumerator))) {
            continue;
        }
        // A device belongs to the set when it has an interface of the class.
        const bool hasInterface = std::any_of(
            device.interfaces.begin(), device.interfaces.end(), [&](const auto& interface) {
                return allClasses || IsEqualGUID(interface.interfaceClass, *ClassGuid);
            });
        if (hasInterface) {
            set->devices.push_back(std::move(device));
        }
    }
    for (size_t device = 0; device < set->devices.size(); ++device) {
        for (const DeviceInterfaceRecord& interface : set->devices[device].interfaces) {
            if (allClasses || IsEqualGUID(interface.interfaceClass, *ClassGuid)) {
                set->interfaces.push_back({device, &interface});
            }
        }
    }

    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    const std::uintptr_t handle = table.next;
    table.next += 8;
    table.sets.emplace(handle, std::move(set));
    return reinterpret_cast<HDEVINFO>(handle);
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    std::shared_ptr<const ::DeviceInfoSet> set;  // destroyed outside the table's lock
    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.sets.find(reinterpret_cast<std::uintptr_t>(DeviceInfoSet));
    if (found == table.sets.end()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    set = std::move(found->second);
    table.sets.erase(found);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                   PSP_DEVINFO_DATA DeviceInfoData,
                                                   const GUID* InterfaceClassGuid,
                                                   DWORD MemberIndex,
                                                   PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const auto set = LookupSet(DeviceInfoSet);
    if (!set) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr || InterfaceClassGuid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    size_t onlyDevice = 0;
    if (DeviceInfoData != nullptr) {
        const DWORD error = FindDevice(*set, DeviceInfoSet, DeviceInfoData, &onlyDevice);
        if (error != ERROR_SUCCESS) {
            return Fail(error);
        }
    }
    DWORD seen = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const InterfaceEntry& entry = set->interfaces[i];
        if (!IsEqualGUID(entry.record->interfaceClass, *InterfaceClassGuid) ||
            (DeviceInfoData != nullptr && entry.device != onlyDevice)) {
            continue;
        }
        if (seen++ == MemberIndex) {
            DeviceInterfaceData->InterfaceClassGuid = entry.record->interfaceClass;
            // A device that is not present keeps its registered interfaces, inactive.
            DeviceInterfaceData->Flags = set->devices[entry.device].present ? SPINT_ACTIVE : 0;
            DeviceInterfaceData->Reserved = i + 1;
            return TRUE;
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

extern "C" BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
    const auto set = LookupSet(DeviceInfoSet);
    if (!set) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInterfaceData->Reserved == 0 ||
        DeviceInterfaceData->Reserved > set->interfaces.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    constexpr DWORD kFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    // A size query passes no buffer and a size of 0; a buffer must at least hold the fixed part
    // and an empty path, and carry the fixed part's size in cbSize.
    const bool badBuffer =
        DeviceInterfaceDetailData == nullptr
            ? DeviceInterfaceDetailDataSize != 0
            : (DeviceInterfaceDetailDataSize < kFixedPart + sizeof(WCHAR) ||
               DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    if (badBuffer) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const InterfaceEntry& entry = set->interfaces[DeviceInterfaceData->Reserved - 1];
    const std::wstring& path = entry.record->path;
    const DWORD required = static_cast<DWORD>(kFixedPart + (path.size() + 1) * sizeof(WCHAR));
    if (RequiredSize != nullptr) {
        *RequiredSize = required;
    }
    if (DeviceInterfaceDetailDataSize < required) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, path.c_str(),
                (path.size() + 1) * sizeof(WCHAR));
    if (DeviceInfoData != nullptr) {
        DescribeDevice(DeviceInfoSet, entry.device, DeviceInfoData);
    }
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet,
                                                 PSP_DEVINFO_DATA DeviceInfoData,
                                                 const DEVPROPKEY* PropertyKey,
                                                 DEVPROPTYPE* PropertyType, PBYTE PropertyBuffer,
                                                 DWORD PropertyBufferSize, PDWORD RequiredSize,
                                                 DWORD Flags) {
    const auto set = LookupSet(DeviceInfoSet);
    if (!set) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (Flags != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    size_t device = 0;
    const DWORD error = FindDevice(*set, DeviceInfoSet, DeviceInfoData, &device);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    if (PropertyKey == nullptr || PropertyType == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const DeviceRecord& record = set->devices[device];
    const std::wstring* value = nullptr;
    if (IsEqualDevPropKey(*PropertyKey, DEVPKEY_Device_FriendlyName) && record.friendlyName) {
        value = &*record.friendlyName;
    } else if (IsEqualDevPropKey(*PropertyKey, DEVPKEY_Device_InstanceId)) {
        value = &record.instanceId;
    }
    if (value == nullptr) {
        return Fail(ERROR_NOT_FOUND);
    }
    // A string property is its characters and the terminator.
    const DWORD required = static_cast<DWORD>((value->size() + 1) * sizeof(WCHAR));
    *PropertyType = DEVPROP_TYPE_STRING;
    if (RequiredSize != nullptr) {
        *RequiredSize = required;
    }
    if (PropertyBufferSize < required) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(PropertyBuffer, value->c_str(), required);
    return TRUE;
}
