// Replacement setupapi.dll: enumerates the devices of the virtual controller
// config (controllers and other HID devices, in file order) as present HID
// interfaces, one per top-level collection as Windows has them, with the contracts of the real one: cbSize checks, the
// ERROR_INSUFFICIENT_BUFFER size query of the interface detail, and device
// information sets that are dead once destroyed.
#define _SETUPAPI_
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/virtual-controller/win32/vc_win32_common.h"

namespace {

constexpr std::uint32_t kSetMagic = 0x4B565344;  // "KVSD"

struct DeviceInfoSet {
    std::uint32_t magic;
    GUID classGuid;
    std::vector<std::wstring> paths;  // one per interface
};

std::vector<DeviceInfoSet*> gLiveSets;

DeviceInfoSet* LiveSet(HDEVINFO handle) {
    auto* set = static_cast<DeviceInfoSet*>(handle);
    if (std::find(gLiveSets.begin(), gLiveSets.end(), set) == gLiveSets.end()) return nullptr;
    return set->magic == kSetMagic ? set : nullptr;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent,
                                     DWORD flags) {
    (void)enumerator;
    (void)parent;
    if ((flags & DIGCF_DEVICEINTERFACE) != 0 && classGuid == nullptr &&
        (flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new (std::nothrow) DeviceInfoSet();
    if (set == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    set->magic = kSetMagic;
    set->classGuid = classGuid != nullptr ? *classGuid : GUID{};
    const bool wantsHidInterfaces = (flags & DIGCF_DEVICEINTERFACE) != 0 &&
                                    ((flags & DIGCF_ALLCLASSES) != 0 ||
                                     IsEqualGUID(*classGuid, kVcHidGuid));
    std::wstring configPath;
    if (wantsHidInterfaces && VcConfigPathFromEnvironment(&configPath)) {
        // The config is read afresh for every enumeration.
        VcConfig config;
        std::string error;
        if (!VcReadConfigFile(configPath, &config, &error)) {
            VcReportConfigError("setupapi.dll", error);
        } else if (!VcCreateDeviceFiles(configPath, config)) {
            VcReportConfigError("setupapi.dll", "cannot create the device files beside the config");
        } else {
            for (const VcInterface& interface : VcInterfaces(config)) {
                set->paths.push_back(VcInterfacePath(configPath, config, interface));
            }
        }
    }
    gLiveSets.push_back(set);
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA deviceInfo,
                                        const GUID* interfaceGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    (void)deviceInfo;
    DeviceInfoSet* set = LiveSet(handle);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceGuid == nullptr || interfaceData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!IsEqualGUID(*interfaceGuid, kVcHidGuid) || memberIndex >= set->paths.size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->InterfaceClassGuid = kVcHidGuid;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = static_cast<ULONG_PTR>(memberIndex) + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle,
                                             PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceInfo) {
    DeviceInfoSet* set = LiveSet(handle);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const ULONG_PTR member = interfaceData->Reserved;
    if (member == 0 || member > set->paths.size()) return Fail(ERROR_INVALID_PARAMETER);
    const std::wstring& path = set->paths[member - 1];
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (path.size() + 1) * sizeof(WCHAR));
    if (detail == nullptr) {
        if (detailSize != 0) return Fail(ERROR_INVALID_USER_BUFFER);
    } else if (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
               detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr || detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    if (deviceInfo != nullptr) {
        deviceInfo->ClassGuid = kVcHidGuid;
        deviceInfo->DevInst = static_cast<DWORD>(member);
        deviceInfo->Reserved = member;
    }
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    DeviceInfoSet* set = LiveSet(handle);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    gLiveSets.erase(std::find(gLiveSets.begin(), gLiveSets.end(), set));
    set->magic = 0;
    delete set;
    return TRUE;
}

// Test support: how many device information sets are alive.
LONG WINAPI KelVcLiveDeviceInfoSets() {
    return static_cast<LONG>(gLiveSets.size());
}

}  // extern "C"
