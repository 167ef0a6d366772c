#include "app/display_facts_linux.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cmath>
#include <cstdio>

#include "app/drm_display_linux.h"
#include "app/x11_display_linux.h"

void ReadDisplayFacts(SDL_Window* window, int display, const DisplayArea& area,
                      DisplayFacts* facts) {
    *facts = DisplayFacts{};
    const char* sdlName = SDL_GetDisplayName(display);
    std::snprintf(facts->name, sizeof facts->name, "%s", sdlName != nullptr ? sdlName : "");
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    const bool system = window != nullptr && SDL_GetWindowWMInfo(window, &info) == SDL_TRUE;
    // SDL's own dots per inch come from the panel's millimetres without the
    // rotation, so X11 and KMS/DRM ask their system directly.
    if (system && info.subsystem == SDL_SYSWM_X11) {
        X11OutputFacts(info.info.x11.display, area, facts);
        return;
    }
#if SDL_VERSION_ATLEAST(2, 0, 22)
    if (system && info.subsystem == SDL_SYSWM_KMSDRM) {
        DrmConnectorFacts(info.info.kmsdrm.drm_fd, display, facts);
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
