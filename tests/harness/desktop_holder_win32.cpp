// desktop-holder: keeps Wine's default desktop open for a whole test session.
//
// Wine's server closes the default desktop one second after the last program
// using it exits, and its desktop process (explorer.exe /desktop) goes with
// it. Without a program that stays, every GUI test program would start a new
// desktop process of its own, hand it its stderr, and its runner would wait
// on that pipe until the desktop process has gone after it. This program
// attaches to the desktop, writes the file it is given once the desktop
// window exists, and then waits for messages until the session's wineserver
// is killed.
//
//   desktop-holder.exe READY-FILE
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    if (GetDesktopWindow() == nullptr) return 1;
    HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
