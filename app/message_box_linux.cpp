// Questions and messages drawn in the calibration window itself: a panel
// centred on the window with the caption, the text and large buttons a
// finger can hit. Return answers the default button (Yes, or OK); Esc
// answers OK on a message and nothing on a question, as on a Windows box;
// Y and N answer a question. A close request, a signal or the display lost
// ends the box unanswered.
#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>

#include "app/touch_capture_linux.h"
#include "app/session_events_linux.h"
#include "app/calibration_window_linux.h"
#include "app/session_platform.h"
#include "app/session_texts.h"
#include "app/target_layout.h"

namespace {

constexpr SDL_Color kBlack = {0, 0, 0, 255};
constexpr SDL_Color kWhite = {255, 255, 255, 255};
constexpr SDL_Color kGrey = {200, 200, 200, 255};
constexpr SDL_Color kCaptionBar = {60, 60, 60, 255};
constexpr SDL_Color kButton = {225, 225, 225, 255};

struct BoxButton {
    const char* label;
    BoxAnswer answer;
    SDL_Rect rect;
};

struct BoxLayout {
    TTF_Font* textFont;  // the box font, or the small one for a long text
    SDL_Rect panel;
    SDL_Rect caption;
    SDL_Rect text;
    BoxButton buttons[2];
    int buttonCount;
};

void Fill(SDL_Renderer* renderer, const SDL_Rect& rect, SDL_Color colour) {
    SDL_SetRenderDrawColor(renderer, colour.r, colour.g, colour.b, 255);
    SDL_RenderFillRect(renderer, &rect);
}

// Height of `text` wrapped to `width` pixels in `font`.
int WrappedHeight(TTF_Font* font, const char* text, int width) {
    const SDL_Color black = {0, 0, 0, 255};
    SDL_Surface* surface = TTF_RenderUTF8_Blended_Wrapped(font, text, black, static_cast<Uint32>(width));
    if (surface == nullptr) return TTF_FontLineSkip(font);
    const int height = surface->h;
    SDL_FreeSurface(surface);
    return height;
}

// Draws `text` centred in `area`, wrapped to its width.
void DrawCentred(SDL_Renderer* renderer, TTF_Font* font, const char* text, const SDL_Rect& area,
                 SDL_Color fg) {
    SDL_Surface* surface = TTF_RenderUTF8_Blended_Wrapped(font, text, fg, static_cast<Uint32>(area.w));
    if (surface == nullptr) return;
    SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, surface);
    if (texture != nullptr) {
        const SDL_Rect place = {area.x + (area.w - surface->w) / 2,
                                area.y + (area.h - surface->h) / 2, surface->w, surface->h};
        SDL_RenderCopy(renderer, texture, nullptr, &place);
        SDL_DestroyTexture(texture);
    }
    SDL_FreeSurface(surface);
}

// Sizes follow the window: buttons at least 160 x 64 pixels, a panel of two
// thirds of the window across, as high as its text needs, centred like the
// Windows boxes. A text too long for the box font takes the small one.
BoxLayout LayOut(BoxKind kind, const char* text) {
    BoxLayout layout = {};
    const int line = TTF_FontLineSkip(gScreen.boxFont);
    const int panelW = std::min(gScreen.width - 16, std::max(gScreen.width * 2 / 3, 480));
    const int buttonW = std::max(160, std::min(panelW / 3, gScreen.width / 5));
    const int buttonH = std::max(64, gScreen.height / 8);
    const int captionH = line + line / 2;
    const int gap = line;
    const int room = gScreen.height - captionH - buttonH - 3 * gap;
    layout.textFont = gScreen.boxFont;
    int textH = std::max(line * 3, WrappedHeight(gScreen.boxFont, text, panelW - 2 * gap));
    if (textH > room) {
        layout.textFont = gScreen.screenFont;
        textH = std::min(room, WrappedHeight(gScreen.screenFont, text, panelW - 2 * gap));
    }
    const int panelH = std::min(gScreen.height, captionH + gap + textH + gap + buttonH + gap);
    const BoxOrigin origin =
        CenteredBoxOrigin(0, 0, gScreen.width, gScreen.height, panelW, panelH);
    layout.panel = {origin.x, origin.y, panelW, panelH};
    layout.caption = {origin.x, origin.y, panelW, captionH};
    layout.text = {origin.x + gap, origin.y + captionH + gap, panelW - 2 * gap, textH};
    const int buttonsY = origin.y + panelH - gap - buttonH;
    if (kind == BoxKind::kYesNo) {
        layout.buttonCount = 2;
        const int left = origin.x + (panelW - 2 * buttonW - gap) / 2;
        layout.buttons[0] = {kYesLabelUtf8, BoxAnswer::kYes, {left, buttonsY, buttonW, buttonH}};
        layout.buttons[1] = {kNoLabelUtf8, BoxAnswer::kNo,
                             {left + buttonW + gap, buttonsY, buttonW, buttonH}};
    } else {
        layout.buttonCount = 1;
        layout.buttons[0] = {kOkLabelUtf8, BoxAnswer::kOk,
                             {origin.x + (panelW - buttonW) / 2, buttonsY, buttonW, buttonH}};
    }
    return layout;
}

void Draw(const BoxLayout& layout, const char* text, const char* caption) {
    SDL_Renderer* renderer = gScreen.renderer;
    SDL_SetRenderDrawColor(renderer, kGrey.r, kGrey.g, kGrey.b, 255);
    SDL_RenderClear(renderer);
    Fill(renderer, layout.panel, kWhite);
    Fill(renderer, layout.caption, kCaptionBar);
    DrawCentred(renderer, gScreen.boxFont, caption, layout.caption, kWhite);
    DrawCentred(renderer, layout.textFont, text, layout.text, kBlack);
    for (int i = 0; i < layout.buttonCount; ++i) {
        const SDL_Rect& r = layout.buttons[i].rect;
        Fill(renderer, r, kButton);
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderDrawRect(renderer, &r);
        DrawCentred(renderer, gScreen.boxFont, layout.buttons[i].label, r, kBlack);
    }
    SDL_RenderPresent(renderer);
}

int ButtonAt(const BoxLayout& layout, int x, int y) {
    const SDL_Point p = {x, y};
    for (int i = 0; i < layout.buttonCount; ++i) {
        if (SDL_PointInRect(&p, &layout.buttons[i].rect)) return i;
    }
    return -1;
}

// What a key answers, or false when the key does nothing here.
bool AnswerForKey(SDL_Keycode key, BoxKind kind, BoxAnswer* answer) {
    const bool question = kind == BoxKind::kYesNo;
    switch (key) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_SPACE:
        *answer = question ? BoxAnswer::kYes : BoxAnswer::kOk;
        return true;
    case SDLK_ESCAPE:
        *answer = BoxAnswer::kOk;
        return !question;
    case SDLK_y:
        *answer = BoxAnswer::kYes;
        return question;
    case SDLK_n:
        *answer = BoxAnswer::kNo;
        return question;
    default:
        return false;
    }
}

}  // namespace

BoxAnswer ShowBox(const char* text, const char* caption, BoxKind kind, AbandonReason* why) {
    const BoxLayout layout = LayOut(kind, text);
    SDL_ShowCursor(SDL_ENABLE);
    // A key or touch made during the transfer before the box (Return while
    // the records went out) is no answer to a question not yet shown.
    DropQueuedInput();
    Draw(layout, text, caption);
    int pressed = -1;
    BoxAnswer answer = BoxAnswer::kClosed;
    bool answered = false;
    constexpr int kKeptMessages = 8;
    unsigned kept[kKeptMessages];
    int keptCount = 0;
    while (!answered) {
        SessionInput input;
        if (!NextInput(&input)) continue;
        switch (input.kind) {
        case InputKind::kLeave:
            *why = input.reason;
            answered = true;
            break;
        case InputKind::kRedraw:
            Draw(layout, text, caption);
            break;
        case InputKind::kEscape:
        case InputKind::kKey: {
            BoxAnswer keyAnswer = BoxAnswer::kClosed;
            const SDL_Keycode key = input.kind == InputKind::kEscape ? SDLK_ESCAPE : input.key;
            if (AnswerForKey(key, kind, &keyAnswer)) {
                answer = keyAnswer;
                answered = true;
            }
            break;
        }
        case InputKind::kPress:
            // A finger or a button: pressed and released on the same button.
            pressed = ButtonAt(layout, input.x, input.y);
            break;
        case InputKind::kRelease: {
            const int released = ButtonAt(layout, input.x, input.y);
            if (released >= 0 && released == pressed) {
                answer = layout.buttons[released].answer;
                answered = true;
            }
            pressed = -1;
            break;
        }
        case InputKind::kSessionMessage:
            // Posted before the box (the session posts none while one is
            // open): kept, in order, for the session loop.
            if (keptCount < kKeptMessages) kept[keptCount++] = input.message;
            break;
        case InputKind::kNone:
            break;
        }
    }
    for (int i = 0; i < keptCount; ++i) PostSessionMessage(kept[i]);
    // Back to the target screen, whose pointer stays hidden.
    SDL_ShowCursor(SDL_DISABLE);
    return answer;
}
