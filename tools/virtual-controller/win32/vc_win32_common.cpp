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

std::vector<VcInterface> VcInterfaces(const VcConfig& config) {
    std::vector<VcInterface> interfaces;
    for (int i = 0; i < static_cast<int>(config.devices.size()); ++i) {
        VcDeviceInfo info{};
        if (!VcConfigDeviceInfo(config, i, &info)) continue;
        VcCollection collections[kVcMaxCollections];
        const int count = VcDeviceCollections(info, collections);
        const VcDeviceEntry& entry = config.devices[static_cast<std::size_t>(i)];
        const bool otherRefuses =
            !entry.isController && config.others[static_cast<std::size_t>(entry.index)].refusesOpen;
        for (int c = 0; c < count; ++c) {
            interfaces.push_back(VcInterface{i, c, count, otherRefuses || collections[c].systemOpened});
        }
    }
    return interfaces;
}

std::wstring VcInterfacePath(const std::wstring& configPath, const VcConfig& config,
                             const VcInterface& interface) {
    VcDeviceInfo info{};
    VcConfigDeviceInfo(config, interface.device, &info);
    wchar_t name[80];
    if (interface.collections > 1) {
        std::swprintf(name, 80, L"\\hid#vid_%04x&pid_%04x&col%02d#%d", info.vendorId, info.productId,
                      interface.collection + 1, interface.device);
    } else {
        std::swprintf(name, 80, L"\\hid#vid_%04x&pid_%04x#%d", info.vendorId, info.productId,
                      interface.device);
    }
    return DevicesDirectory(configPath) + name;
}

bool VcCreateDeviceFiles(const std::wstring& configPath, const VcConfig& config) {
    const std::wstring directory = DevicesDirectory(configPath);
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    bool ok = true;
    for (const VcInterface& interface : VcInterfaces(config)) {
        const std::wstring path = VcInterfacePath(configPath, config, interface);
        if (interface.refusesOpen) {
            // A directory in its place: opening it as a file fails with
            // ERROR_ACCESS_DENIED, as the system's own collections refuse
            // a program's open for reading or writing.
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

bool VcInterfaceOfHandle(HANDLE handle, const std::wstring& configPath, const VcConfig& config,
                         VcInterface* interface) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    wchar_t buffer[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 1024) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const std::wstring path = WithoutLongPrefix(std::wstring(buffer, length));
    for (const VcInterface& candidate : VcInterfaces(config)) {
        if (EqualPathsIgnoringCase(path, VcInterfacePath(configPath, config, candidate))) {
            *interface = candidate;
            return true;
        }
    }
    SetLastError(ERROR_INVALID_FUNCTION);  // a file, but no device of ours
    return false;
}

void VcReportConfigError(const char* dll, const std::string& message) {
    static std::string last;
    if (message == last) return;
    last = message;
    std::fprintf(stderr, "virtual controller %s: %s\n", dll, message.c_str());
    std::fflush(stderr);
}
