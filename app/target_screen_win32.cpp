// Drawing of the target screen: a black circle with a cross, pixel by pixel,
// and the three instruction lines. Every pen is made, used, deselected and
// deleted inside the call that needs it.
#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "app/target_layout.h"

const wchar_t kTouchInstructionText[] = L"\n\nTouch screen targets from a position of normal use.";
const wchar_t kEscapeHintText[] = L"\n\n\n\nPress <ESC> key to quit.";
const wchar_t kResetNoteText[] =
    L"Note:Please reset the windows7 TabletPC calibraion parameters before implement this "
    L"calibrating.";

namespace {

// Sets the single pixel p as a one-pixel line; LineTo leaves its end out.
void SetOnePixel(HDC dc, std::int32_t x, std::int32_t y) {
    MoveToEx(dc, x, y, nullptr);
    LineTo(dc, x + 1, y + 1);
}

struct CirclePlotContext {
    HDC dc;
    std::int32_t cx;
    std::int32_t cy;
    COLORREF colour;
};

void PlotOffset(void* context, std::int32_t a, std::int32_t b) {
    const CirclePlotContext* c = static_cast<const CirclePlotContext*>(context);
    PlotCirclePoints(c->dc, c->cx, c->cy, a, b, c->colour);
}

}  // namespace

void PlotCirclePoints(HDC dc, std::int32_t cx, std::int32_t cy, std::int32_t a, std::int32_t b,
                      COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ previous = SelectObject(dc, pen);
    SetOnePixel(dc, cx + a, cy + b);
    SetOnePixel(dc, cx - a, cy + b);
    SetOnePixel(dc, cx + a, cy - b);
    SetOnePixel(dc, cx - a, cy - b);
    SetOnePixel(dc, cx + b, cy + a);
    SetOnePixel(dc, cx - b, cy + a);
    SetOnePixel(dc, cx + b, cy - a);
    SetOnePixel(dc, cx - b, cy - a);
    if (previous != nullptr && previous != HGDI_ERROR) {
        SelectObject(dc, previous);
    }
    if (pen != nullptr) {
        DeleteObject(pen);
    }
}

void DrawCircle(HDC dc, POINT centre, std::int32_t radius, COLORREF colour) {
    CirclePlotContext context = {dc, centre.x, centre.y, colour};
    TraceCircleOffsets(radius, PlotOffset, &context);
}

void DrawLine(HDC dc, POINT start, POINT end, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ previous = SelectObject(dc, pen);
    MoveToEx(dc, start.x, start.y, nullptr);
    LineTo(dc, end.x, end.y);
    if (previous != nullptr && previous != HGDI_ERROR) {
        SelectObject(dc, previous);
    }
    if (pen != nullptr) {
        DeleteObject(pen);
    }
}

void DrawTarget(HDC dc, std::int32_t x, std::int32_t y) {
    const std::int32_t r = gSession.targetRadiusPx;
    const COLORREF black = RGB(0, 0, 0);
    POINT centre = {x, y};
    DrawCircle(dc, centre, r, black);
    // The cross stops one pixel short of the circle on the right and at the
    // bottom, because LineTo leaves its end point out.
    DrawLine(dc, POINT{x - r, y}, POINT{x + r, y}, black);
    DrawLine(dc, POINT{x, y - r}, POINT{x, y + r}, black);
}

void DrawTargetScreen(HDC dc, const RECT& client) {
    const std::int32_t index = gSession.pointCount;
    if (index >= 0 && index < kTargetCount) {
        DrawTarget(dc, gSession.targetX[index], gSession.targetY[index]);
    }
    SetBkColor(dc, kBackgroundColour);
    // Each text starts at the top of the client area; its leading line feeds
    // put it on its own line (note first, instruction third, Esc hint fifth).
    RECT area = client;
    DrawTextW(dc, kTouchInstructionText, -1, &area, DT_CENTER);
    area = client;
    DrawTextW(dc, kEscapeHintText, -1, &area, DT_CENTER);
    area = client;
    DrawTextW(dc, kResetNoteText, -1, &area, DT_CENTER);
}

void PaintTargetScreen(HWND window) {
    PAINTSTRUCT paint = {};
    HDC dc = BeginPaint(window, &paint);
    if (dc != nullptr) {
        RECT client = {0, 0, 0, 0};
        GetClientRect(window, &client);
        DrawTargetScreen(dc, client);
    }
    EndPaint(window, &paint);
}
