#include "app/touch_capture_linux.h"

#include <SDL.h>

PointerEvent ReadPointerEvent(const SDL_Event& event, int width, int height) {
    PointerEvent pointer = {PointerKind::kNone, 0, 0};
    switch (event.type) {
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const Uint8 button = event.button.button;
        if (event.button.which == SDL_TOUCH_MOUSEID ||
            (button != SDL_BUTTON_LEFT && button != SDL_BUTTON_RIGHT && button != SDL_BUTTON_MIDDLE)) {
            break;
        }
        pointer.kind = event.type == SDL_MOUSEBUTTONUP ? PointerKind::kRelease : PointerKind::kPress;
        pointer.x = event.button.x;
        pointer.y = event.button.y;
        break;
    }
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
        pointer.kind = event.type == SDL_FINGERUP ? PointerKind::kRelease : PointerKind::kPress;
        pointer.x = static_cast<int>(event.tfinger.x * static_cast<float>(width));
        pointer.y = static_cast<int>(event.tfinger.y * static_cast<float>(height));
        break;
    default:
        break;
    }
    return pointer;
}

namespace {

// SDL_FilterEvents keeps the events for which this returns 1.
int KeptAfterTransfer(void*, SDL_Event* event) {
    switch (event->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return event->key.keysym.sym == SDLK_ESCAPE ? 1 : 0;
    case SDL_TEXTEDITING:
    case SDL_TEXTINPUT:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
    case SDL_FINGERMOTION:
        return 0;
    default:
        return 1;
    }
}

}  // namespace

void DropQueuedInput() {
    SDL_PumpEvents();
    SDL_FilterEvents(KeptAfterTransfer, nullptr);
}

bool EscapeQueued() {
    SDL_PumpEvents();
    SDL_Event keys[64];
    const int count = SDL_PeepEvents(keys, 64, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN);
    for (int i = 0; i < count; ++i) {
        if (keys[i].key.keysym.sym == SDLK_ESCAPE) return true;
    }
    return false;
}
