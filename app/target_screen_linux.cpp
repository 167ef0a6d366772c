// Drawing of the target screen: a black circle with a cross, point by point
// as on Windows, and the three instruction lines on their rows, on the grey
// background.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>

#include "app/calibration_window_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/target_layout.h"

namespace {

constexpr SDL_Color kBlack = {0, 0, 0, 255};
constexpr SDL_Color kGrey = {200, 200, 200, 255};

struct CirclePlot {
    SDL_Renderer* renderer;
    std::int32_t cx;
    std::int32_t cy;
};

void PlotOffset(void* context, std::int32_t a, std::int32_t b) {
    const CirclePlot* c = static_cast<const CirclePlot*>(context);
    const SDL_Point points[8] = {
        {c->cx + a, c->cy + b}, {c->cx - a, c->cy + b}, {c->cx + a, c->cy - b},
        {c->cx - a, c->cy - b}, {c->cx + b, c->cy + a}, {c->cx - b, c->cy + a},
        {c->cx + b, c->cy - a}, {c->cx - b, c->cy - a}};
    SDL_RenderDrawPoints(c->renderer, points, 8);
}

void DrawTarget(SDL_Renderer* renderer, std::int32_t x, std::int32_t y) {
    const std::int32_t r = gSession.targetRadiusPx;
    SDL_SetRenderDrawColor(renderer, kBlack.r, kBlack.g, kBlack.b, 255);
    CirclePlot plot = {renderer, x, y};
    TraceCircleOffsets(r, PlotOffset, &plot);
    // The Windows lines leave their end point out, so the cross stops one
    // pixel short of the circle on the right and at the bottom.
    if (r > 0) {
        SDL_RenderDrawLine(renderer, x - r, y, x + r - 1, y);
        SDL_RenderDrawLine(renderer, x, y - r, x, y + r - 1);
    }
}

// One text: its leading line feeds pick the row, the rest is centred on it
// with an opaque grey background, as the Windows text is drawn.
void DrawTextLine(SDL_Renderer* renderer, TTF_Font* font, const char* text) {
    int row = 0;
    while (*text == '\n') {
        ++row;
        ++text;
    }
    SDL_Surface* surface = TTF_RenderUTF8_Shaded(font, text, kBlack, kGrey);
    if (surface == nullptr) return;
    SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, surface);
    if (texture != nullptr) {
        const SDL_Rect place = {(gScreen.width - surface->w) / 2, row * TTF_FontLineSkip(font),
                                surface->w, surface->h};
        SDL_RenderCopy(renderer, texture, nullptr, &place);
        SDL_DestroyTexture(texture);
    }
    SDL_FreeSurface(surface);
}

}  // namespace

void PaintTargetScreen() {
    SDL_Renderer* renderer = gScreen.renderer;
    SDL_SetRenderDrawColor(renderer, kGrey.r, kGrey.g, kGrey.b, 255);
    SDL_RenderClear(renderer);
    const std::int32_t index = gSession.pointCount;
    if (index >= 0 && index < kTargetCount) {
        DrawTarget(renderer, gSession.targetX[index], gSession.targetY[index]);
    }
    DrawTextLine(renderer, gScreen.screenFont, kTouchInstructionUtf8);
    DrawTextLine(renderer, gScreen.screenFont, kEscapeHintUtf8);
    DrawTextLine(renderer, gScreen.screenFont, kLinuxNoteUtf8);
    if (gScreen.misclickPx > 0) {
        char note[160];
        std::snprintf(note, sizeof note, kMisclickUtf8, static_cast<int>(gScreen.misclickPx));
        DrawTextLine(renderer, gScreen.screenFont, note);
    }
    SDL_RenderPresent(renderer);
}
