// Entry point of kelcalib for Linux.
#include "app/calibration_window_linux.h"

int main(int argc, char** argv) { return RunKelcalib(argc, argv); }
