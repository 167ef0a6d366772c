#include "tests/device/wine/vc_wine_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/session_state.h"
#include "device/hid_api_win32.h"

namespace {

template <typename Function>
Function Export(const wchar_t* module, const char* name) {
    const HMODULE handle = GetModuleHandleW(module);
    const FARPROC address = handle != nullptr ? GetProcAddress(handle, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = directory + "\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

}  // namespace

VcScenario::VcScenario(const std::string& configLines) {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return;
    static int counter = 0;
    char name[96];
    std::snprintf(name, sizeof name, "kelvc-%lu-%d", GetCurrentProcessId(), ++counter);
    directory_ = std::string(temp) + name;
    if (!CreateDirectoryA(directory_.c_str(), nullptr)) return;
    const std::string config = directory_ + "\\vc.conf";
    {
        std::ofstream file(config, std::ios::binary);
        file << "log-file " << directory_ << "\\vc.log\n" << configLines << "\n";
        if (!file) return;
    }
    SetEnvironmentVariableA("KELCALIB_VC_CONFIG", config.c_str());
    ok_ = LoadHidApi() != nullptr && VcReload();
}

VcScenario::~VcScenario() {
    ResetSession();
    if (!directory_.empty()) RemoveTree(directory_);
    SetEnvironmentVariableA("KELCALIB_VC_CONFIG", nullptr);
    if (LoadHidApi() != nullptr) VcReload();
}

std::vector<std::string> VcScenario::Transfers(bool withEvents) const {
    std::vector<std::string> lines;
    std::ifstream file(directory_ + "\\vc.log");
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string sequence;
        std::string controller;
        std::string kind;
        words >> sequence >> controller >> kind;
        if (kind == "EVENT" && !withEvents) continue;
        std::string rest;
        std::getline(words, rest);
        lines.push_back(kind + rest);
    }
    return lines;
}

void ResetSession() {
    if (gSession.device != nullptr && gSession.device != INVALID_HANDLE_VALUE) {
        CloseHandle(gSession.device);
    }
    gSession = InitialSessionState();
}

bool VcReload() {
    auto reload = Export<BOOL(WINAPI*)()>(L"hid.dll", "KelVcReload");
    return reload != nullptr && reload() != FALSE;
}

long VcLivePreparsedData() {
    auto live = Export<LONG(WINAPI*)()>(L"hid.dll", "KelVcLivePreparsedData");
    return live != nullptr ? live() : -1;
}

long VcLiveDeviceInfoSets() {
    auto live = Export<LONG(WINAPI*)()>(L"setupapi.dll", "KelVcLiveDeviceInfoSets");
    return live != nullptr ? live() : -1;
}

long VcInvalidFrees() {
    auto count = Export<LONG(WINAPI*)()>(L"hid.dll", "KelVcInvalidFrees");
    return count != nullptr ? count() : -1;
}

void VcInjectFailure(int which) {
    auto inject = Export<void(WINAPI*)(int)>(L"hid.dll", "KelVcInjectFailure");
    if (inject != nullptr) inject(which);
}

int VcScenario::OpenDeviceFiles() const {
    const std::string devices = directory_ + "\\vc.conf.devices";
    int open = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((devices + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        const std::string path = devices + "\\" + found.cFileName;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
            ++open;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return open;
}
