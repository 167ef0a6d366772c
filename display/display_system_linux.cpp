#include "display/display_system_linux.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <cstring>

#include "display/wayland_probe_linux.h"
#include "display/x11_display_linux.h"

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Whether SDL_VIDEODRIVER (a comma-separated list) names `driver`.
bool AskedFor(const char* driver) {
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (asked == nullptr) return false;
    const std::size_t length = std::strlen(driver);
    for (const char* p = asked; *p != '\0';) {
        const char* end = std::strchr(p, ',');
        const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (n == length && SDL_strncasecmp(p, driver, n) == 0) return true;
        if (end == nullptr) break;
        p = end + 1;
    }
    return false;
}

int (*gLeaveOnLostServer)() = nullptr;

// Xlib calls this when the connection to the X server breaks, and ends the
// process if it returns.
int OnXConnectionLost(Display*) {
    const int status = gLeaveOnLostServer != nullptr ? gLeaveOnLostServer() : 1;
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

}  // namespace

bool ChooseDisplaySystem(char* error, int capacity) {
    // The calibration window does not ask an X compositor to stand aside,
    // as SDL's windows do by default: the desktop goes on being drawn as it
    // was.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    return AvoidSeatlessWayland(error, capacity);
}

DisplaySystem SdlDisplaySystem() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return DisplaySystem::kNone;
    if (SDL_strcmp(driver, "x11") == 0) return DisplaySystem::kX11;
    if (SDL_strcmp(driver, "wayland") == 0) return DisplaySystem::kWayland;
    if (SDL_strcmp(driver, "KMSDRM") == 0) return DisplaySystem::kKmsDrm;
    // SDL falls back on these when no display system can be reached.
    if ((SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "dummy") == 0) &&
        !AskedFor(driver)) {
        return DisplaySystem::kNone;
    }
    return DisplaySystem::kOther;
}

DisplaySystem EnvironmentDisplaySystem() {
    if (Set("WAYLAND_DISPLAY")) return DisplaySystem::kWayland;
    if (Set("DISPLAY")) return DisplaySystem::kX11;
    return DisplaySystem::kNone;
}

bool CompositorPlacesWindows(DisplaySystem system) {
    return system == DisplaySystem::kWayland;
}

void ChooseFramePresentation(DisplaySystem system) {
    // On X11 the software renderer's frames go straight to the window: SDL would otherwise hand them over
    // through an OpenGL texture, starting a GL driver (on a machine without
    // a GPU, a software rasteriser) first, which delays the first target by
    // about 100 ms. Wayland and KMS/DRM have only that path, by default
    // through SDL's desktop OpenGL renderer; on KMS/DRM that one leaves the
    // screen black (measured with Mesa: nothing reaches the scanned-out
    // buffer), its OpenGL ES 2 one shows the frames. The environment
    // variable of the same name still overrides this.
    if (system == DisplaySystem::kX11) {
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    } else if (system == DisplaySystem::kKmsDrm) {
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "opengles2");
    }
}

Display* WindowXConnection(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11) {
        return nullptr;
    }
    return info.info.x11.display;
}

bool CompositorMapsTouch(DisplaySystem system) {
    return system == DisplaySystem::kWayland || (system == DisplaySystem::kX11 && Set("WAYLAND_DISPLAY"));
}

bool AreaStillShown(SDL_Window* window, const DisplayArea& area, bool* known) {
    *known = false;
    Display* x = WindowXConnection(window);
    if (x == nullptr) return true;
    X11Output outputs[16];
    const int count = X11ShownAreas(x, outputs, 16);
    if (count <= 0) return true;
    *known = true;
    for (int i = 0; i < count && i < 16; ++i) {
        const DisplayArea& a = outputs[i].area;
        if (a.x == area.x && a.y == area.y && a.width == area.width && a.height == area.height) return true;
    }
    return false;
}

void OnDisplayServerLost(int (*leave)()) {
    gLeaveOnLostServer = leave;
    XSetIOErrorHandler(OnXConnectionLost);
}
