// The full-screen calibration window on one display: a borderless window at
// the display's bounds, the software renderer, the fonts, and the target
// layout and radius for that display.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cmath>
#include <cstdio>

#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/target_layout.h"

LinuxScreen gScreen = {};

namespace {

// The target screen's lines in a font of Windows' system font height; the
// questions and messages larger, for a finger and an eye at arm's length.
constexpr int kScreenFontPixels = 13;

bool Fail(char* error, int capacity, const char* what) {
    std::snprintf(error, static_cast<std::size_t>(capacity), "%s: %s", what, SDL_GetError());
    return false;
}

// The radius of 10 mm from the display's vertical size: SDL gives its
// vertical pixels per inch, from which the height in millimetres follows
// (SDL derives the former from the latter's whole millimetres, so rounding
// gives them back). A display without one gets the
// fallback of TargetRadiusPixels.
std::int32_t RadiusFor(int display, std::int32_t height) {
    float diagonal = 0.0f;
    float horizontal = 0.0f;
    float vertical = 0.0f;
    std::int32_t millimetres = 0;
    if (SDL_GetDisplayDPI(display, &diagonal, &horizontal, &vertical) == 0 && vertical > 0.0f) {
        millimetres = static_cast<std::int32_t>(
            std::lround(static_cast<double>(height) * 25.4 / static_cast<double>(vertical)));
    }
    return TargetRadiusPixels(gSession.targetRadiusMm, height, millimetres, 0);
}

}  // namespace

bool OpenCalibrationScreen(int display, const char* fontPath, char* error, int capacity) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(display, &bounds) != 0) {
        return Fail(error, capacity, "cannot read the display's bounds");
    }
    gSession.screenRect = RECT{bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    gScreen.width = bounds.w;
    gScreen.height = bounds.h;
    LayoutTargets(kTargetCount, bounds.w, bounds.h, gSession.targetX, gSession.targetY);
    gSession.targetRadiusPx = RadiusFor(display, bounds.h);

    gScreen.screenFont = TTF_OpenFont(fontPath, kScreenFontPixels);
    gScreen.boxFont = TTF_OpenFont(fontPath, bounds.h >= 600 ? bounds.h / 28 : 20);
    if (gScreen.screenFont == nullptr || gScreen.boxFont == nullptr) {
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot open the font %s: %s",
                      fontPath, TTF_GetError());
        return false;
    }
    gScreen.sessionEvent = SDL_RegisterEvents(1);
    if (gScreen.sessionEvent == static_cast<std::uint32_t>(-1)) {
        return Fail(error, capacity, "no SDL event type left");
    }
    // A borderless window at the display's bounds (X11 and KMS/DRM place it
    // there). A Wayland compositor places windows itself: there the window
    // asks for full screen on the display instead.
    Uint32 flags = SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
    int x = bounds.x;
    int y = bounds.y;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver != nullptr && SDL_strcmp(driver, "wayland") == 0) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        x = static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(display));
        y = x;
    }
    gScreen.window = SDL_CreateWindow(kTitleUtf8, x, y, bounds.w, bounds.h, flags);
    if (gScreen.window == nullptr) return Fail(error, capacity, "cannot open the window");
    // Software rendering: the same pixels on every video driver, and
    // nothing to start up for a screen this simple. On X11 its frames go
    // straight to the window: SDL would otherwise hand them over through an
    // OpenGL texture, starting a GL driver (on a machine without a GPU, a
    // software rasteriser) first, which delays the first target by about
    // 100 ms. Wayland and KMS/DRM have only that path, by default through
    // SDL's desktop OpenGL renderer first; on KMS/DRM that one leaves the
    // screen black (measured with Mesa: nothing reaches the scanned-out
    // buffer), its OpenGL ES 2 one shows the frames. The environment
    // variable of the same name still overrides this.
    if (driver != nullptr && SDL_strcmp(driver, "x11") == 0) {
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    } else if (driver != nullptr && SDL_strcmp(driver, "KMSDRM") == 0) {
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "opengles2");
    }
    gScreen.renderer = SDL_CreateRenderer(gScreen.window, -1, SDL_RENDERER_SOFTWARE);
    if (gScreen.renderer == nullptr) return Fail(error, capacity, "cannot draw in the window");
    SDL_ShowCursor(SDL_DISABLE);
    return true;
}

void CloseCalibrationScreen() {
    if (gScreen.renderer != nullptr) SDL_DestroyRenderer(gScreen.renderer);
    if (gScreen.window != nullptr) SDL_DestroyWindow(gScreen.window);
    if (gScreen.screenFont != nullptr) TTF_CloseFont(gScreen.screenFont);
    if (gScreen.boxFont != nullptr) TTF_CloseFont(gScreen.boxFont);
    gScreen = LinuxScreen{};
}
