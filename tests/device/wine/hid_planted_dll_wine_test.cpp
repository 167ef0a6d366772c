// A hid.dll planted beside the program (this test program's directory holds
// one) is never loaded: the device code takes hid.dll from the system
// directory, where the virtual controller's replacement answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/session_state.h"
#include "device/hid_api_win32.h"
#include "device/hid_device.h"
#include "tests/device/wine/vc_wine_support.h"

namespace {

std::wstring Directory(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

bool PlantedCopyAnnouncedItself() {
    wchar_t value[8];
    return GetEnvironmentVariableW(L"KELCALIB_PLANTED_HID_LOADED", value, 8) > 0;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

class PlantedHidDll : public ::testing::Test {
protected:
    void SetUp() override {
        // The trap is in place, or these tests would prove nothing.
        const std::wstring planted = Directory(ModulePath(nullptr)) + L"\\hid.dll";
        ASSERT_NE(GetFileAttributesW(planted.c_str()), INVALID_FILE_ATTRIBUTES);
        ASSERT_FALSE(PlantedCopyAnnouncedItself());
    }
};

TEST_F(PlantedHidDll, TheProgramOpensItsControllerThroughTheSystemCopy) {
    char controller[64];
    std::snprintf(controller, sizeof controller, "controller\nvendor-id 0x%04X\n",
                  static_cast<unsigned>(KELCALIB_VENDOR_ID));
    VcScenario scenario(controller);
    ASSERT_TRUE(scenario.ok());
    ASSERT_TRUE(OpenTouchDevice(static_cast<std::uint16_t>(KELCALIB_VENDOR_ID), 0));
    EXPECT_FALSE(PlantedCopyAnnouncedItself());
    const HMODULE hid = GetModuleHandleW(L"hid.dll");
    ASSERT_NE(hid, nullptr);
    EXPECT_TRUE(SamePath(ModulePath(hid), SystemDirectory() + L"\\hid.dll"));
    EXPECT_EQ(GetProcAddress(hid, "KelPlantedMarker"), nullptr);
}

TEST_F(PlantedHidDll, TheFullPathFallbackAlsoTakesTheSystemCopy) {
    // The way taken on systems whose loader lacks LOAD_LIBRARY_SEARCH_SYSTEM32.
    const HMODULE hid = LoadSystemLibrary(L"hid.dll", false);
    ASSERT_NE(hid, nullptr);
    EXPECT_FALSE(PlantedCopyAnnouncedItself());
    EXPECT_TRUE(SamePath(ModulePath(hid), SystemDirectory() + L"\\hid.dll"));
    const HMODULE setupapi = LoadSystemLibrary(L"setupapi.dll", false);
    ASSERT_NE(setupapi, nullptr);
    EXPECT_TRUE(SamePath(ModulePath(setupapi), SystemDirectory() + L"\\setupapi.dll"));
}

TEST_F(PlantedHidDll, APlainLoadWouldHaveTakenThePlantedCopy) {
    // The control: the planted copy is real and does reveal itself, so the
    // tests above would have seen it. It runs in a child process of its own,
    // since a hid.dll already loaded would answer the plain load.
    wchar_t child[4];
    if (GetEnvironmentVariableW(L"KELCALIB_PLANTED_CHILD", child, 4) == 0) {
        std::wstring command = L"\"" + ModulePath(nullptr) +
                               L"\" --gtest_filter=PlantedHidDll.APlainLoadWouldHaveTakenThePlantedCopy";
        SetEnvironmentVariableW(L"KELCALIB_PLANTED_CHILD", L"1");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                                            nullptr, nullptr, &startup, &process);
        SetEnvironmentVariableW(L"KELCALIB_PLANTED_CHILD", nullptr);
        ASSERT_TRUE(started);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(exitCode, 0u) << "the plain load in the child did not take the planted copy";
        return;
    }
    const HMODULE hid = LoadLibraryW(L"hid.dll");
    ASSERT_NE(hid, nullptr);
    EXPECT_TRUE(PlantedCopyAnnouncedItself());
    EXPECT_NE(GetProcAddress(hid, "KelPlantedMarker"), nullptr);
    EXPECT_TRUE(SamePath(ModulePath(hid), Directory(ModulePath(nullptr)) + L"\\hid.dll"));
}

}  // namespace
