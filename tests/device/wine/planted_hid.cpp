// A planted hid.dll: what an attacker might leave in a Downloads folder
// beside the program. It has none of hid.dll's entry points and announces
// itself the moment it is loaded, through the process environment.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetEnvironmentVariableW(L"KELCALIB_PLANTED_HID_LOADED", L"1");
    }
    return TRUE;
}

extern "C" int WINAPI KelPlantedMarker() {
    return 0x0BAD;
}
