// The device identity lookups of cSensorDDI. The sensor's device is one function of a composite
// device; its instance ID, lower-cased in mNMEAPortID, has the form enumerator, hardware part and
// instance part, separated by backslashes, and each lookup compares those parts with the parts of
// the device interface paths that the Setup API lists for one interface class:
//
//   instance ID  usb\vid_f00d&pid_7e57&mi_02\7&2f3e4d5c&0&0002
//   serial port  \\?\usb#vid_f00d&pid_7e57&mi_02#7&2f3e4d5c&0&0002#{86e0d1e0-...}
//   adapter      \\?\usb#vid_f00d&pid_7e57&mi_00#7&2f3e4d5c&0&0000#{ad498944-...}\{adapter guid}
//
// The name lookup searches with the two parts whole and so finds the device's own serial port;
// the path lookup cuts five characters off each (the function number after "mi_" and the last
// instance digits) and so finds the sibling functions, the network adapter among them.
#include <cwchar>

#include "debug_log.h"
#include "device_info_set.h"
#include "identity_strings.h"
#include "sensor_ddi.h"

namespace {

// The detail buffer holds the fixed part and 2050 characters: a path of up to 2049 characters
// and its terminator (4104 bytes where WCHAR is 2 bytes, as on Windows).
constexpr size_t kDetailPathChars = 2050;
constexpr size_t kDetailBufferBytes =
    offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + kDetailPathChars * sizeof(WCHAR);
// The friendly-name buffer: 260 characters with the terminator (520 bytes on Windows).
constexpr size_t kFriendlyNameChars = 260;

// The number of characters SetNetworkDevicePath cuts off a longer search token.
constexpr size_t kNetworkTokenCut = 5;

// Calls visit(set, path, device) for each interface of the class in the set, index 0, 1, 2 and on,
// with the path lower-cased. Stops at the first index at which the enumeration or the detail
// fails, whether because the list is exhausted or for any other reason.
template <typename Visit>
void ForEachInterface(HDEVINFO set, const GUID& interfaceClass, Visit visit) {
    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE detailBuffer[kDetailBufferBytes];
    auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detailBuffer);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &interfaceData)) {
            return;
        }
        std::memset(detailBuffer, 0, sizeof(detailBuffer));
        // The size of the fixed part, not of the buffer.
        pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, pDetail, sizeof(detailBuffer),
                                              nullptr, &device)) {
            return;
        }
        std::wstring path(pDetail->DevicePath);
        LowerCase(path);
        visit(set, path, device);
    }
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// The device's friendly name; empty when it cannot be read.
std::wstring ReadFriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    WCHAR name[kFriendlyNameChars] = {};
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    if (!SetupDiGetDevicePropertyW(set, &device, &DEVPKEY_Device_FriendlyName, &type,
                                   reinterpret_cast<PBYTE>(name), sizeof(name), nullptr, 0)) {
        return std::wstring();
    }
    return std::wstring(name, wcsnlen(name, kFriendlyNameChars));
}

std::wstring CutForNetworkSearch(std::wstring token) {
    if (token.size() > kNetworkTokenCut) {
        token.resize(token.size() - kNetworkTokenCut);
    }
    return token;
}

}  // namespace

void cSensorDDI::SetDeviceName() {
    if (!mpSensorProperties) {
        DebugLog("SetDeviceName: mpSensorProperties == 0");
        return;
    }
    if (mNMEAPortID.empty()) {
        DebugLog("SetDeviceName: mNMEAPortID is empty");
        return;
    }
    LowerCase(mNMEAPortID);
    mDeviceName = GetDeviceName(GetToken(mNMEAPortID, L'\\', 2), GetToken(mNMEAPortID, L'\\', 3));
    // Not found: the property keeps its value, the default name until a lookup succeeds.
    if (!mDeviceName.empty()) {
        mpSensorProperties->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, mDeviceName.c_str());
    }
}

// Of the present serial ports, the last whose path carries both tokens gives the name. A
// matching port whose friendly name cannot be read gives no name, so the result is then empty
// until a later match.
std::wstring cSensorDDI::GetDeviceName(const std::wstring& hardwareToken,
                                       const std::wstring& instanceToken) {
    std::wstring result;
    if (hardwareToken.empty() || instanceToken.empty()) {
        DebugLog("GetDeviceName: invalid parameters");
        return result;
    }
    cDeviceInfoSet set(SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.IsValid()) {
        DebugLog("GetDeviceName: SetupDiGetClassDevs failed");
        return result;
    }
    ForEachInterface(set.Get(), GUID_DEVINTERFACE_COMPORT,
                     [&](HDEVINFO hSet, const std::wstring& path, SP_DEVINFO_DATA& device) {
                         if (Contains(GetToken(path, L'#', 2), hardwareToken) &&
                             Contains(GetToken(path, L'#', 3), instanceToken)) {
                             result = ReadFriendlyName(hSet, device);
                         }
                     });
    set.Destroy();
    DebugLog("GetDeviceName: %ws", result.c_str());
    return result;
}

HRESULT cSensorDDI::SetNetworkDevicePath() {
    if (!mNetDevicePath.empty()) {
        return S_OK;
    }
    // mNMEAPortID is stored lower-cased; the tokens are taken as they are.
    mNetDevicePath = GetNetworkDevicePath(CutForNetworkSearch(GetToken(mNMEAPortID, L'\\', 2)),
                                          CutForNetworkSearch(GetToken(mNMEAPortID, L'\\', 3)));
    if (mNetDevicePath.empty()) {
        DebugLog("SetNetworkDevicePath: failed to get Net device path");
        return E_FAIL;
    }
    return S_OK;
}

// Of all network adapters, present or not, the last whose path carries both tokens and a
// reference string after the interface class gives the path.
std::wstring cSensorDDI::GetNetworkDevicePath(const std::wstring& hardwareToken,
                                              const std::wstring& instanceToken) {
    std::wstring result;
    if (hardwareToken.empty() || instanceToken.empty()) {
        DebugLog("GetNetworkDevicePath: invalid parameters");
        return result;
    }
    cDeviceInfoSet set(
        SetupDiGetClassDevsW(&GUID_NDIS_LAN_CLASS, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
    if (!set.IsValid()) {
        DebugLog("GetNetworkDevicePath: SetupDiGetClassDevs failed");
        return result;
    }
    ForEachInterface(set.Get(), GUID_NDIS_LAN_CLASS,
                     [&](HDEVINFO, const std::wstring& path, SP_DEVINFO_DATA&) {
                         if (Contains(GetToken(path, L'#', 2), hardwareToken) &&
                             Contains(GetToken(path, L'#', 3), instanceToken) &&
                             !GetToken(GetToken(path, L'#', 4), L'\\', 2).empty()) {
                             result = path;
                         }
                     });
    set.Destroy();
    DebugLog("GetNetworkDevicePath: %ws", result.c_str());
    return result;
}
