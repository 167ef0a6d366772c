// Entry point of kelcalib.exe. Arguments and the show command are ignored.
#include "app/calibration_window_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunCalibrationProgram(instance);
}
