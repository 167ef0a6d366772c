// The target screen drawn into a memory bitmap and compared pixel by pixel,
// with the process's pen traffic counted through its own import table.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "app/target_layout.h"

namespace {

// ---- Counting CreatePen/DeleteObject through the exe's import table ----

typedef HPEN(WINAPI* CreatePenFunction)(int, int, COLORREF);
typedef BOOL(WINAPI* DeleteObjectFunction)(HGDIOBJ);
CreatePenFunction gRealCreatePen = nullptr;
DeleteObjectFunction gRealDeleteObject = nullptr;
std::set<HGDIOBJ> gLivePens;
int gPensCreated = 0;
int gPensDeletedWhileSelected = 0;
HDC gWatchedDc = nullptr;

HPEN WINAPI CountingCreatePen(int style, int width, COLORREF colour) {
    HPEN pen = gRealCreatePen(style, width, colour);
    ++gPensCreated;
    gLivePens.insert(pen);
    return pen;
}

BOOL WINAPI CountingDeleteObject(HGDIOBJ object) {
    if (gWatchedDc != nullptr && GetCurrentObject(gWatchedDc, OBJ_PEN) == object) {
        ++gPensDeletedWhileSelected;
    }
    gLivePens.erase(object);
    return gRealDeleteObject(object);
}

// Replaces the import of `name` from gdi32 in this exe; returns the original.
void* PatchGdiImport(const char* name, void* replacement) {
    auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; imports->Name != 0; ++imports) {
        if (_stricmp(reinterpret_cast<char*>(base + imports->Name), "gdi32.dll") != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), name) != 0) {
                continue;
            }
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            return original;
        }
    }
    return nullptr;
}

// ---- A memory bitmap filled with the window's grey ----

constexpr COLORREF kGrey = RGB(200, 200, 200);

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        previous_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < width * height; ++i) {
            bits_[i] = 0x00C8C8C8;
        }
    }
    ~Canvas() {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    // The set of pixels that are not grey, relative to (ox, oy).
    std::set<std::pair<int, int>> Marked(int ox, int oy) const {
        GdiFlush();
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                if ((bits_[y * width_ + x] & 0xFFFFFF) != 0xC8C8C8) {
                    out.insert({x - ox, y - oy});
                }
            }
        }
        return out;
    }
    std::uint32_t At(int x, int y) const {
        GdiFlush();
        return bits_[y * width_ + x] & 0xFFFFFF;
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

using Pixels = std::set<std::pair<int, int>>;

void AddEightWay(Pixels* p, int a, int b) {
    const std::pair<int, int> eight[8] = {{a, b}, {-a, b}, {a, -b}, {-a, -b},
                                          {b, a}, {-b, a}, {b, -a}, {-b, -a}};
    p->insert(std::begin(eight), std::end(eight));
}

void CollectOffsets(void* context, std::int32_t a, std::int32_t b) {
    AddEightWay(static_cast<Pixels*>(context), a, b);
}

// The expected target of radius r at the origin: circle, then the cross that
// stops one pixel short on the right and at the bottom.
Pixels ExpectedTarget(int r, const std::vector<std::pair<int, int>>& circleOffsets) {
    Pixels p;
    for (const auto& o : circleOffsets) {
        AddEightWay(&p, o.first, o.second);
    }
    for (int i = -r; i < r; ++i) {
        p.insert({i, 0});
        p.insert({0, i});
    }
    return p;
}

class TargetScreen : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gRealCreatePen = reinterpret_cast<CreatePenFunction>(
            PatchGdiImport("CreatePen", reinterpret_cast<void*>(CountingCreatePen)));
        gRealDeleteObject = reinterpret_cast<DeleteObjectFunction>(
            PatchGdiImport("DeleteObject", reinterpret_cast<void*>(CountingDeleteObject)));
        ASSERT_NE(gRealCreatePen, nullptr);
        ASSERT_NE(gRealDeleteObject, nullptr);
    }
    void SetUp() override {
        gSession = InitialSessionState();
        gLivePens.clear();
        gPensCreated = 0;
        gPensDeletedWhileSelected = 0;
        gWatchedDc = nullptr;
    }
};

TEST_F(TargetScreen, SmallTargetsMatchPixelByPixel) {
    struct Case {
        int radius;
        std::vector<std::pair<int, int>> offsets;
    };
    const Case cases[] = {
        {0, {{0, 0}}},
        {1, {{0, 1}}},
        {3, {{0, 3}, {1, 3}, {2, 2}}},
        {5, {{0, 5}, {1, 5}, {2, 5}, {3, 4}}},
    };
    for (const Case& c : cases) {
        Canvas canvas(40, 40);
        gWatchedDc = canvas.dc();
        gSession.targetRadiusPx = c.radius;
        DrawTarget(canvas.dc(), 20, 20);
        EXPECT_EQ(canvas.Marked(20, 20), ExpectedTarget(c.radius, c.offsets)) << "radius " << c.radius;
        EXPECT_EQ(canvas.At(20, 20), 0u) << "black";
        EXPECT_TRUE(gLivePens.empty()) << "radius " << c.radius;
    }
    EXPECT_EQ(gPensDeletedWhileSelected, 0);
}

TEST_F(TargetScreen, RealisticTargetLeavesTheCrossShortOnRightAndBottom) {
    Canvas canvas(120, 120);
    gSession.targetRadiusPx = 36;
    DrawTarget(canvas.dc(), 60, 60);
    Pixels circle;
    TraceCircleOffsets(36, CollectOffsets, &circle);
    Pixels want = circle;
    for (int i = -36; i < 36; ++i) {
        want.insert({i, 0});
        want.insert({0, i});
    }
    const Pixels got = canvas.Marked(60, 60);
    EXPECT_EQ(got, want);
    EXPECT_EQ(got.count({-36, 0}), 1u);
    EXPECT_EQ(got.count({35, 0}), 1u);
    EXPECT_EQ(got.count({0, 35}), 1u);
    // (36, 0) and (0, 36) belong to the circle; the pixels just inside them
    // on the cross are set, the circle's own are, nothing beyond.
    EXPECT_EQ(got.count({37, 0}), 0u);
}

TEST_F(TargetScreen, RepeatedPaintsReleaseEveryPen) {
    Canvas canvas(1024, 768);
    gWatchedDc = canvas.dc();
    gSession.targetRadiusPx = 36;
    LayoutTargets(kTargetCount, 1024, 768, gSession.targetX, gSession.targetY);
    const RECT client = {0, 0, 1024, 768};
    const HGDIOBJ penBefore = GetCurrentObject(canvas.dc(), OBJ_PEN);
    for (int i = 0; i < 50; ++i) {
        gSession.pointCount = i % 5;
        DrawTargetScreen(canvas.dc(), client);
    }
    EXPECT_GT(gPensCreated, 0);
    EXPECT_TRUE(gLivePens.empty()) << gLivePens.size() << " pens outlived their call";
    EXPECT_EQ(gPensDeletedWhileSelected, 0) << "a pen was deleted while still selected";
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_PEN), penBefore);
}

// Dark pixels of one text line band [top, bottom): their horizontal extent.
struct Extent {
    int left = 1 << 30;
    int right = -1;
    bool any() const { return right >= 0; }
};

Extent DarkExtent(const Canvas& canvas, int width, int top, int bottom) {
    Extent e;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < width; ++x) {
            if (canvas.At(x, y) != 0xC8C8C8) {
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
            }
        }
    }
    return e;
}

int TextWidth(HDC dc, const wchar_t* line) {
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, line, static_cast<int>(wcslen(line)), &size);
    return size.cx;
}

TEST_F(TargetScreen, ThreeCentredLinesOnTheFirstThirdAndFifthRows) {
    const int width = 1024;
    Canvas canvas(width, 768);
    gSession.targetRadiusPx = 36;
    gSession.pointCount = kTargetCount;  // no target: the texts only
    LayoutTargets(kTargetCount, width, 768, gSession.targetX, gSession.targetY);
    const RECT client = {0, 0, width, 768};
    DrawTargetScreen(canvas.dc(), client);
    TEXTMETRICW metrics;
    ASSERT_TRUE(GetTextMetricsW(canvas.dc(), &metrics));
    const int h = metrics.tmHeight;
    const wchar_t* lines[5] = {kResetNoteText, nullptr, kTouchInstructionText + 2, nullptr,
                               kEscapeHintText + 4};
    for (int row = 0; row < 5; ++row) {
        const Extent e = DarkExtent(canvas, width, row * h, (row + 1) * h);
        if (lines[row] == nullptr) {
            EXPECT_FALSE(e.any()) << "row " << row << " is empty";
            continue;
        }
        ASSERT_TRUE(e.any()) << "row " << row;
        const int textWidth = TextWidth(canvas.dc(), lines[row]);
        const int centre2 = e.left + e.right + 1;  // twice the ink's centre
        EXPECT_NEAR(centre2, width, 4 + (width < textWidth ? textWidth - width : 0)) << row;
        EXPECT_LE(e.right - e.left + 1, textWidth) << row;
        EXPECT_GE(e.right - e.left + 1, textWidth - 4) << row;
    }
    EXPECT_FALSE(DarkExtent(canvas, width, 5 * h, 768).any()) << "nothing below the fifth row";
    // The texts stand on the window's grey: no pixel is lighter than it (a
    // white text background would leave white bands behind each line).
    int lighter = 0;
    for (int y = 0; y < 5 * h; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = canvas.At(x, y);
            lighter += ((p & 0xFF) > 0xC8 || ((p >> 8) & 0xFF) > 0xC8 || (p >> 16) > 0xC8) ? 1 : 0;
        }
    }
    EXPECT_EQ(lighter, 0);
}

TEST_F(TargetScreen, TargetFollowsPointCount) {
    const int width = 1024;
    Canvas canvas(width, 768);
    gSession.targetRadiusPx = 20;
    LayoutTargets(kTargetCount, width, 768, gSession.targetX, gSession.targetY);
    gSession.pointCount = 1;
    const RECT client = {0, 0, width, 768};
    DrawTargetScreen(canvas.dc(), client);
    EXPECT_EQ(canvas.At(819, 614), 0u) << "target 1: lower right";
    EXPECT_EQ(canvas.At(819 + 20, 614), 0u);
    EXPECT_EQ(canvas.At(204, 153), 0xC8C8C8u) << "target 0 is not drawn any more";
}

}  // namespace
