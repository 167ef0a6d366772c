// Entry point of kelcalib for Linux.
#include "app/session_linux.h"

int main(int argc, char** argv) { return RunKelcalib(argc, argv); }
