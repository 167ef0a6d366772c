// The texts of the Linux edition's screen, questions and messages, in UTF-8.
// They are the Windows program's texts character for character (its wide
// strings live beside its window code), but for the screen's note and the
// misclick line; leading line feeds put a screen text on its row, as on
// Windows.
#ifndef KELCALIB_APP_SESSION_TEXTS_H
#define KELCALIB_APP_SESSION_TEXTS_H

// Window title.
constexpr char kTitleUtf8[] = "KelCalib";

// The target screen's three lines: note on the first row, instruction on the
// third, Esc hint on the fifth. The note is the Linux program's own (the
// Windows one speaks of Windows' calibration): what else may calibrate the
// touch on top of the firmware, and what finds it.
constexpr char kTouchInstructionUtf8[] = "\n\nTouch screen targets from a position of normal use.";
constexpr char kEscapeHintUtf8[] = "\n\n\n\nPress <ESC> key to quit.";
constexpr char kLinuxNoteUtf8[] =
    "Note: remove any other touch calibration (in X, libinput or tslib) first; "
    "kelcalib-ctl doctor finds them.";
// The Linux program's own: on the seventh row, after a pass whose touches
// missed the targets (a printf format of the pixels).
constexpr char kMisclickUtf8[] =
    "\n\n\n\n\n\nThe last touches missed the targets by %d pixels: touch them again.";

// Questions and messages: text, then caption.
constexpr char kNoDeviceUtf8[] = "Fatal error:Can not open Kelvane USB HID device!";
constexpr char kFatalCaptionUtf8[] = "Fatal error!";
constexpr char kErrorCaptionUtf8[] = "Error";
constexpr char kTransferErrorUtf8[] = "Transfer data to device error!";
constexpr char kConfirmUtf8[] = "Try moving on the screen,Does the cursor jump to your fingertip?";
constexpr char kConfirmCaptionUtf8[] = "Checking calibration results";
constexpr char kInitFailedUtf8[] = "Application initialization failed";

// Button labels of the questions and messages.
constexpr char kYesLabelUtf8[] = "Yes";
constexpr char kNoLabelUtf8[] = "No";
constexpr char kOkLabelUtf8[] = "OK";

#endif  // KELCALIB_APP_SESSION_TEXTS_H
