// The one process-wide record of the calibration program, and its private
// window messages.
//
// Everything the program knows lives in `gSession`, from start to exit: the
// display and window, the controller handle and its report length, the
// debounce clock, the points of the current pass and the solved calibration.
// Each subsystem reads and writes the fields it owns; no other state exists.
#ifndef KELCALIB_APP_SESSION_STATE_H
#define KELCALIB_APP_SESSION_STATE_H

#include <csignal>
#include <cstdint>

#include "app/platform_types.h"

// USB vendor ID of the controllers this build serves. Fixed at build time by
// the CMake cache variable KELCALIB_VENDOR_ID; the default 0xFFFE belongs to
// no controller maker, so a build for real hardware must set it.
#ifndef KELCALIB_VENDOR_ID
#define KELCALIB_VENDOR_ID 0xFFFE
#endif

// Private messages of the calibration window, always posted with wParam 0
// and lParam 0.
constexpr UINT WM_CALIB_START = WM_USER + 0x65;  // 0x465: begin a pass
constexpr UINT WM_CALIB_NEXT = WM_USER + 0x66;   // 0x466: show target `pointCount`
constexpr UINT WM_CALIB_SOLVE = WM_USER + 0x67;  // 0x467: four points stored
constexpr UINT WM_CALIB_ABORT = WM_USER + 0x68;  // 0x468: abandon the calibration
constexpr UINT WM_CALIB_EXIT = WM_USER + 0x69;   // 0x469: release everything, quit

constexpr int kTargetCount = 4;

// A raw controller position: each coordinate is an unsigned 16-bit value
// from the controller, stored zero-extended (0..65535, never negative).
struct RawPoint {
    std::int32_t x;
    std::int32_t y;
};

// device X = (a*x + b*y + c) / divisor, device Y = (d*x + e*y + f) / divisor
// for raw (x, y).
struct CalibrationCoefficients {
    std::int32_t a;
    std::int32_t b;
    std::int32_t c;
    std::int32_t d;
    std::int32_t e;
    std::int32_t f;
    std::int32_t divisor;
    bool valid;
};

// Indexes into `deviceRecords`: the X record, then the Y record. Each holds
// factor of raw x, factor of raw y, offset in device units, divisor.
constexpr int kRecordX = 0;
constexpr int kRecordY = 1;

// How a session ended, or kRunning while it lasts.
enum class SessionOutcome : std::int32_t {
    kRunning,
    kCalibrated,       // Yes, and the controller accepted the commit
    kCommitRefused,    // Yes, but the controller did not accept the commit
    kAbandoned,        // Esc, a close request, a signal or the display lost
    kIdentityRefused,  // the identity records were not accepted
    kNoController,     // none could be opened, or it went away meanwhile
};

// How an abandoned session was left.
enum class AbandonReason : std::int32_t {
    kEscape,
    kCloseRequest,
    kSignal,
    kDisplayLost,
    kControllerGone,  // no abandon: the session ends without its controller
};

struct SessionState {
    std::uint16_t vendorId;
    std::int32_t targetRadiusMm;
    HINSTANCE instance;
    RECT screenRect;
    std::int32_t displayOrientation;  // 0..3, or 10000 when unreadable
    WCHAR title[100];
    HCURSOR arrowCursor;
    HCURSOR targetCursor;
    std::int32_t targetX[kTargetCount];  // window pixels
    std::int32_t targetY[kTargetCount];
    std::int32_t targetRadiusPx;
    HWND mainWindow;
    GUID hidGuid;
    HANDLE device;  // 0 or INVALID_HANDLE_VALUE: no controller
    std::uint16_t featureReportLength;
    std::int32_t logicalMaxX;  // device units
    std::int32_t logicalMaxY;
    UINT_PTR timerId;
    std::uint32_t lastTick;   // GetTickCount milliseconds
    std::int32_t elapsedMs;   // milliseconds since the last accepted touch
    HHOOK mouseHook;
    HHOOK messageBoxHook;
    std::int32_t pointCount;  // 0..4
    RawPoint rawPoints[kTargetCount];
    CalibrationCoefficients coefficients;
    std::int32_t deviceRecords[2][4];
    // A pass whose four touches lie further than this from the targets'
    // shape (pixels, across or down) starts again; 0, the Windows
    // program's, takes every pass (misclick.h).
    std::int32_t misclickPx;
    // The session's end (calibration_session.h): its outcome, how it was
    // abandoned, and whether the abort step ran or the session ended, after
    // which nothing more is sent.
    SessionOutcome outcome;
    AbandonReason abandonReason;
    bool leaving;
    bool committing;  // CommitCalibration in progress
    // A transfer found the controller gone (the Linux link sets it on
    // ENODEV; the Windows program keeps trying, as it always did).
    bool deviceGone;
};

// Start values of the record: zero everywhere except the vendor ID and the
// target radius of 10 mm.
SessionState InitialSessionState();

extern SessionState gSession;

// Set from a signal handler when the program is asked to end (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT on Linux; nothing sets it on Windows): a
// handshake in progress stops at its next step, and the session is
// abandoned. A flag of its own, since a signal handler may write nothing
// else.
extern volatile std::sig_atomic_t gLeaveRequested;

#endif  // KELCALIB_APP_SESSION_STATE_H
