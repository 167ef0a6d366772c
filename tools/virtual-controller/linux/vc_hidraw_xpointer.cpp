// libkelcalib-vc-xpointer.so: a touch source for the hidraw interposer that
// takes the finger from the X pointer, as the replacement hid.dll takes it
// from GetCursorPos. Preload it after the interposer:
//
//   LD_PRELOAD=.../libkelcalib-vc-hidraw.so:.../libkelcalib-vc-xpointer.so
//
// At every GetFeature the position is the pointer's on the display DISPLAY
// names, relative to the area KELCALIB_VC_TOUCH_AREA gives as "X Y WIDTH
// HEIGHT" (the monitor the panel covers; default: the whole root window),
// always touching. Without an X display it reports no touch.
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

typedef int (*TouchSource)(std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*);
typedef void (*InstallSource)(TouchSource);

Display* gDisplay = nullptr;
bool gTried = false;

int PointerTouch(std::int32_t* x, std::int32_t* y, std::int32_t* width, std::int32_t* height) {
    if (!gTried) {
        gTried = true;
        gDisplay = XOpenDisplay(nullptr);
        if (gDisplay == nullptr) std::fprintf(stderr, "virtual controller x-pointer: no X display\n");
    }
    if (gDisplay == nullptr) return 0;
    const Window root = DefaultRootWindow(gDisplay);
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(gDisplay, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) {
        return 0;
    }
    long area[4] = {0, 0, DisplayWidth(gDisplay, DefaultScreen(gDisplay)),
                    DisplayHeight(gDisplay, DefaultScreen(gDisplay))};
    const char* text = std::getenv("KELCALIB_VC_TOUCH_AREA");
    long given[4];
    if (text != nullptr && std::sscanf(text, "%ld %ld %ld %ld", &given[0], &given[1], &given[2],
                                       &given[3]) == 4 && given[2] > 0 && given[3] > 0) {
        for (int i = 0; i < 4; ++i) area[i] = given[i];
    }
    *x = static_cast<std::int32_t>(rootX - area[0]);
    *y = static_cast<std::int32_t>(rootY - area[1]);
    *width = static_cast<std::int32_t>(area[2]);
    *height = static_cast<std::int32_t>(area[3]);
    return 1;
}

__attribute__((constructor)) void InstallPointerSource() {
    const auto install =
        reinterpret_cast<InstallSource>(dlsym(RTLD_DEFAULT, "KelVcHidrawSetTouchSource"));
    if (install == nullptr) {
        std::fprintf(stderr, "virtual controller x-pointer: the hidraw interposer is not loaded\n");
        return;
    }
    install(PointerTouch);
}

}  // namespace
