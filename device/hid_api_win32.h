// The entry points of the system's hid.dll and setupapi.dll, loaded once on
// first use from the Windows system directory only.
//
// The program never imports either DLL statically: hid.dll is not a "known
// DLL", so a static import would take a hid.dll lying beside the exe (in a
// Downloads folder, say) before the system's. Loading by the system search
// path alone closes that door.
#ifndef KELCALIB_DEVICE_HID_API_WIN32_H
#define KELCALIB_DEVICE_HID_API_WIN32_H

#ifdef _WIN32

#include <cstddef>

#include "app/platform_types.h"

#include <setupapi.h>
// MinGW's hidsdi.h declares its functions without C linkage; only its types
// are used here, the functions are reached through GetProcAddress.
extern "C" {
#include <hidsdi.h>
}

struct HidApi {
    // hid.dll
    void(WINAPI* HidD_GetHidGuid)(LPGUID hidGuid);
    BOOLEAN(WINAPI* HidD_GetAttributes)(HANDLE device, PHIDD_ATTRIBUTES attributes);
    BOOLEAN(WINAPI* HidD_GetPreparsedData)(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
    BOOLEAN(WINAPI* HidD_FreePreparsedData)(PHIDP_PREPARSED_DATA preparsedData);
    NTSTATUS(WINAPI* HidP_GetCaps)(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities);
    NTSTATUS(WINAPI* HidP_GetValueCaps)(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps,
                                        PUSHORT valueCapsLength,
                                        PHIDP_PREPARSED_DATA preparsedData);
    BOOLEAN(WINAPI* HidD_SetFeature)(HANDLE device, PVOID buffer, ULONG bufferLength);
    BOOLEAN(WINAPI* HidD_GetFeature)(HANDLE device, PVOID buffer, ULONG bufferLength);
    // setupapi.dll
    HDEVINFO(WINAPI* SetupDiGetClassDevsW)(const GUID* classGuid, PCWSTR enumerator,
                                           HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInterfaces)(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                              const GUID* interfaceGuid, DWORD memberIndex,
                                              PSP_DEVICE_INTERFACE_DATA interfaceData);
    BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailW)(HDEVINFO set,
                                                   PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                   DWORD detailSize, PDWORD requiredSize,
                                                   PSP_DEVINFO_DATA deviceInfo);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);
};

// The loaded entry points, or null when either DLL or any entry point is
// missing. The first call loads; later calls return the same result without
// trying again, so a failed load means no device for the rest of the run.
const HidApi* LoadHidApi();

// Loads `name` (a bare file name such as L"hid.dll") from the system
// directory only: with LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows
// that flag, otherwise by the full path from GetSystemDirectoryW.
HMODULE LoadSystemLibrary(const wchar_t* name, bool searchFlagSupported);

// True when LoadLibraryExW understands LOAD_LIBRARY_SEARCH_SYSTEM32 (the
// systems that have AddDllDirectory).
bool SystemSearchFlagSupported();

// Zero-filled memory for the device layer's temporary buffers, and its
// release. Null on failure; callers fail cleanly. Kept in an object of their
// own so tests can substitute a failing allocator at link time.
void* DeviceAllocate(std::size_t size);
void DeviceRelease(void* memory);

#endif  // _WIN32

#endif  // KELCALIB_DEVICE_HID_API_WIN32_H
