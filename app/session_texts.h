// The texts of the Linux edition's screen, questions and messages, in UTF-8.
// They are the Windows program's texts character for character (its wide
// strings live beside its window code); leading line feeds put a screen text
// on its row, as on Windows.
#ifndef KELCALIB_APP_SESSION_TEXTS_H
#define KELCALIB_APP_SESSION_TEXTS_H

// Window title.
constexpr char kTitleUtf8[] = "KelCalib";

// The target screen's three lines: note on the first row, instruction on the
// third, Esc hint on the fifth.
constexpr char kTouchInstructionUtf8[] = "\n\nTouch screen targets from a position of normal use.";
constexpr char kEscapeHintUtf8[] = "\n\n\n\nPress <ESC> key to quit.";
constexpr char kResetNoteUtf8[] =
    "Note:Please reset the windows7 TabletPC calibraion parameters before implement this "
    "calibrating.";

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
