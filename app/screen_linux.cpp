// The full-screen calibration window on one display: a borderless window at
// the display's bounds, the software renderer, the fonts, and the target
// layout, radius and rotation for that display.
#include <SDL.h>
#include <SDL_ttf.h>

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

}  // namespace

bool OpenCalibrationScreen(int display, const char* fontPath, char* error, int capacity) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(display, &bounds) != 0) {
        return Fail(error, capacity, "cannot read the display's bounds");
    }
    gSession.screenRect = RECT{bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    gScreen.width = bounds.w;
    gScreen.height = bounds.h;
    gScreen.display = display;
    LayoutTargets(kTargetCount, bounds.w, bounds.h, gSession.targetX, gSession.targetY);

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
    // The radius and the rotation come from the system that shows the
    // window; the firmware keeps the panel's orientation (the solve turns
    // the expected positions with the display).
    ReadDisplayFacts(gScreen.window, display, DisplayArea{bounds.x, bounds.y, bounds.w, bounds.h},
                     &gScreen.facts);
    gSession.targetRadiusPx = TargetRadiusOn(gScreen.facts, bounds.h);
    gSession.displayOrientation = gScreen.facts.orientation;
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
