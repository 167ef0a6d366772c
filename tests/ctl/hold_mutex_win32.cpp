// Holds kelcalib.exe's one-copy mutex, as a running calibration does, until
// its standard input ends; prints "held" once it has it (exit 1 when another
// program holds it already).
#include <cstdio>

#include "app/calibration_window_win32.h"

int main() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    std::puts("held");
    std::fflush(stdout);
    char line[16];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
    }
    return 0;
}
