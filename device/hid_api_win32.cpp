#include "device/hid_api_win32.h"

#include <cwchar>

namespace {

enum class LoadState { kNotTried, kLoaded, kFailed };

LoadState gLoadState = LoadState::kNotTried;
HidApi gApi;

// GetProcAddress hands out a generic function pointer; the detour through
// void (*)() converts it to the entry point's real type without a warning.
template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* out) {
    const FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        return false;
    }
    *out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return true;
}

bool ResolveAll(HMODULE hid, HMODULE setupapi, HidApi* api) {
    return Resolve(hid, "HidD_GetHidGuid", &api->HidD_GetHidGuid) &&
           Resolve(hid, "HidD_GetAttributes", &api->HidD_GetAttributes) &&
           Resolve(hid, "HidD_GetPreparsedData", &api->HidD_GetPreparsedData) &&
           Resolve(hid, "HidD_FreePreparsedData", &api->HidD_FreePreparsedData) &&
           Resolve(hid, "HidP_GetCaps", &api->HidP_GetCaps) &&
           Resolve(hid, "HidP_GetValueCaps", &api->HidP_GetValueCaps) &&
           Resolve(hid, "HidD_SetFeature", &api->HidD_SetFeature) &&
           Resolve(hid, "HidD_GetFeature", &api->HidD_GetFeature) &&
           Resolve(setupapi, "SetupDiGetClassDevsW", &api->SetupDiGetClassDevsW) &&
           Resolve(setupapi, "SetupDiEnumDeviceInterfaces", &api->SetupDiEnumDeviceInterfaces) &&
           Resolve(setupapi, "SetupDiGetDeviceInterfaceDetailW",
                   &api->SetupDiGetDeviceInterfaceDetailW) &&
           Resolve(setupapi, "SetupDiDestroyDeviceInfoList", &api->SetupDiDestroyDeviceInfoList);
}

}  // namespace

bool SystemSearchFlagSupported() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

HMODULE LoadSystemLibrary(const wchar_t* name, bool searchFlagSupported) {
    if (name == nullptr || name[0] == L'\0') {
        return nullptr;
    }
    if (searchFlagSupported) {
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Without the flag: the full path in the system directory. The altered
    // search path makes the DLL's own imports start from its directory too.
    WCHAR path[MAX_PATH];
    const UINT directoryLength = GetSystemDirectoryW(path, MAX_PATH);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) {
        return nullptr;
    }
    const std::size_t nameLength = std::wcslen(name);
    if (directoryLength + 1 + nameLength >= MAX_PATH) {
        return nullptr;
    }
    path[directoryLength] = L'\\';
    std::wmemcpy(path + directoryLength + 1, name, nameLength + 1);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

const HidApi* LoadHidApi() {
    if (gLoadState == LoadState::kNotTried) {
        gLoadState = LoadState::kFailed;
        const bool searchFlag = SystemSearchFlagSupported();
        const HMODULE hid = LoadSystemLibrary(L"hid.dll", searchFlag);
        const HMODULE setupapi = LoadSystemLibrary(L"setupapi.dll", searchFlag);
        HidApi api{};
        if (hid != nullptr && setupapi != nullptr && ResolveAll(hid, setupapi, &api)) {
            // Both modules stay loaded for the life of the process.
            gApi = api;
            gLoadState = LoadState::kLoaded;
        } else {
            if (hid != nullptr) {
                FreeLibrary(hid);
            }
            if (setupapi != nullptr) {
                FreeLibrary(setupapi);
            }
        }
    }
    return gLoadState == LoadState::kLoaded ? &gApi : nullptr;
}
