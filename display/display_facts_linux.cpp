#include "display/display_facts_linux.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "display/drm_display_linux.h"
#include "display/display_system_linux.h"
#include "display/x11_display_linux.h"
#include "device/name_text.h"

void ReadDisplayFacts(SDL_Window* window, int display, const DisplayArea& area,
                      DisplayFacts* facts) {
    *facts = DisplayFacts{};
    const char* sdlName = SDL_GetDisplayName(display);
    TakeName(sdlName, facts->name, sizeof facts->name);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    const bool system = window != nullptr && SDL_GetWindowWMInfo(window, &info) == SDL_TRUE;
    const DisplaySystem shownOn = SdlDisplaySystem();
    const bool x11 = system ? info.subsystem == SDL_SYSWM_X11 : shownOn == DisplaySystem::kX11;
    // SDL's own dots per inch come from the panel's millimetres without the
    // rotation, so X11 and KMS/DRM ask their system directly: through the
    // window's connection, or without a window through one of their own.
    if (x11) {
        Display* x = system ? info.info.x11.display : XOpenDisplay(nullptr);
        if (x != nullptr && system) {
            // The screen the window lies on: an X display may have several.
            X11OutputFacts(x, X11ScreenOfWindow(x, info.info.x11.window), area, facts);
        } else if (x != nullptr) {
            for (int screen = 0; screen < ScreenCount(x); ++screen) {
                if (X11OutputFacts(x, screen, area, facts)) break;
            }
        }
        if (!system && x != nullptr) XCloseDisplay(x);
        return;
    }
#if SDL_VERSION_ATLEAST(2, 0, 22)
    const bool kmsdrm = system ? info.subsystem == SDL_SYSWM_KMSDRM : shownOn == DisplaySystem::kKmsDrm;
    if (kmsdrm) {
        const int fd = system ? info.info.kmsdrm.drm_fd : OpenDrmCard();
        if (fd >= 0) DrmConnectorFacts(fd, display, facts);
        if (!system && fd >= 0) close(fd);
        return;
    }
#endif
    // Elsewhere (Wayland) SDL's vertical dots per inch, from whole
    // millimetres, give the height back by rounding.
    float diagonal = 0.0f;
    float horizontal = 0.0f;
    float vertical = 0.0f;
    if (SDL_GetDisplayDPI(display, &diagonal, &horizontal, &vertical) == 0 && vertical > 0.0f &&
        horizontal > 0.0f) {
        facts->heightMm = static_cast<std::int32_t>(std::lround(area.height * 25.4 / vertical));
        facts->widthMm = static_cast<std::int32_t>(std::lround(area.width * 25.4 / horizontal));
    }
}

void DescribeDisplayFacts(const DisplayFacts& facts, char* text, int size) {
    static const char* const kTurns[4] = {"", ", turned left", ", upside down", ", turned right"};
    const char* turn = facts.orientation >= 0 && facts.orientation < 4 ? kTurns[facts.orientation] : "";
    if (facts.widthMm > 0 && facts.heightMm > 0) {
        std::snprintf(text, static_cast<std::size_t>(size), "%dx%d mm%s", facts.widthMm, facts.heightMm, turn);
    } else {
        std::snprintf(text, static_cast<std::size_t>(size), "no size known%s", turn);
    }
}
