// post-close: a close request from outside, as a task switcher or the
// system's shutdown sends one. Posts WM_CLOSE to the top-level window of the
// given class and exits 0, or exits 1 when there is no such window.
//
//   post-close.exe CLASS
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HWND window = FindWindowW(argv[1], nullptr);
    if (window == nullptr) return 1;
    return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}
