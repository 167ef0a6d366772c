#include "tools/virtual-controller/win32/vc_win32_common.h"

#include <cstdio>
#include <cwchar>
#include <vector>

const GUID kVcHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

namespace {

bool EqualPathsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// "\\?\C:\x" and "\\?\UNC\server\x" as plain DOS paths.
std::wstring WithoutLongPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD length = GetFullPathNameW(path.c_str(), needed + 1, buffer.data(), nullptr);
    if (length == 0 || length > needed) return path;
    return std::wstring(buffer.data(), length);
}

std::wstring DevicesDirectory(const std::wstring& configPath) {
    return configPath + L".devices";
}

}  // namespace

bool VcConfigPathFromEnvironment(std::wstring* path) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(L"KELCALIB_VC_CONFIG", buffer, 1024);
    if (length == 0 || length >= 1024) return false;
    *path = FullPath(std::wstring(buffer, length));
    return true;
}

bool VcReadConfigFile(const std::wstring& path, VcConfig* config, std::string* error) {
    *config = VcConfig();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string narrowPath(path.begin(), path.end());
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open config file " + narrowPath;
        return false;
    }
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);
    if (!VcParseConfig(text, config, error)) {
        *error = narrowPath + ": " + *error;
        *config = VcConfig();
        return false;
    }
    return true;
}

std::wstring VcDevicePath(const std::wstring& configPath, const VcConfig& config, int deviceIndex) {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (deviceIndex >= 0 && deviceIndex < static_cast<int>(config.devices.size())) {
        const VcDeviceEntry& entry = config.devices[static_cast<std::size_t>(deviceIndex)];
        if (entry.isController) {
            vendor = config.controllers[static_cast<std::size_t>(entry.index)].vendorId;
            product = config.controllers[static_cast<std::size_t>(entry.index)].productId;
        } else {
            vendor = config.others[static_cast<std::size_t>(entry.index)].vendorId;
            product = config.others[static_cast<std::size_t>(entry.index)].productId;
        }
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"\\hid#vid_%04x&pid_%04x#%d", vendor, product, deviceIndex);
    return DevicesDirectory(configPath) + name;
}

bool VcCreateDeviceFiles(const std::wstring& configPath, const VcConfig& config) {
    const std::wstring directory = DevicesDirectory(configPath);
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    bool ok = true;
    for (int i = 0; i < static_cast<int>(config.devices.size()); ++i) {
        const std::wstring path = VcDevicePath(configPath, config, i);
        const VcDeviceEntry& entry = config.devices[static_cast<std::size_t>(i)];
        if (!entry.isController && config.others[static_cast<std::size_t>(entry.index)].refusesOpen) {
            // A directory in its place: opening it as a file fails with
            // ERROR_ACCESS_DENIED, as a system keyboard refuses the open.
            if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                ok = false;
            }
            continue;
        }
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ok = false;
        } else {
            CloseHandle(file);
        }
    }
    return ok;
}

int VcDeviceIndexOfHandle(HANDLE handle, const std::wstring& configPath, const VcConfig& config) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    wchar_t buffer[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 1024) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    const std::wstring path = WithoutLongPrefix(std::wstring(buffer, length));
    for (int i = 0; i < static_cast<int>(config.devices.size()); ++i) {
        if (EqualPathsIgnoringCase(path, VcDevicePath(configPath, config, i))) return i;
    }
    SetLastError(ERROR_INVALID_FUNCTION);  // a file, but no device of ours
    return -1;
}

void VcReportConfigError(const char* dll, const std::string& message) {
    static std::string last;
    if (message == last) return;
    last = message;
    std::fprintf(stderr, "virtual controller %s: %s\n", dll, message.c_str());
    std::fflush(stderr);
}
