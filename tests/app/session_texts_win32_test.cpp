// The Linux edition's UTF-8 texts are the Windows program's wide strings,
// character for character (but for the target screen's note, which speaks
// of Windows there).
#include <gtest/gtest.h>

#include <string>

#include "app/calibration_window_win32.h"
#include "app/session_texts.h"

namespace {

std::wstring Widened(const char* text) {
    std::wstring wide;
    for (const char* c = text; *c != '\0'; ++c) {
        // The texts are ASCII; a byte above 0x7F would need real decoding.
        EXPECT_LT(static_cast<unsigned char>(*c), 0x80u) << text;
        wide += static_cast<wchar_t>(*c);
    }
    return wide;
}

TEST(SessionTexts, EqualTheWindowsTexts) {
    const struct {
        const wchar_t* windows;
        const char* utf8;
    } pairs[] = {
        {kTouchInstructionText, kTouchInstructionUtf8}, {kEscapeHintText, kEscapeHintUtf8},
        {kNoDeviceText, kNoDeviceUtf8},
        {kFatalCaption, kFatalCaptionUtf8},             {kErrorCaption, kErrorCaptionUtf8},
        {kTransferErrorText, kTransferErrorUtf8},       {kConfirmText, kConfirmUtf8},
        {kConfirmCaption, kConfirmCaptionUtf8},         {kInitFailedText, kInitFailedUtf8},
    };
    for (const auto& pair : pairs) {
        EXPECT_EQ(std::wstring(pair.windows), Widened(pair.utf8));
    }
}

}  // namespace
