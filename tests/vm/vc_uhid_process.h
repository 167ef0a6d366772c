// Runs vc-uhid (the virtual controller as a kernel HID device) for one test:
// writes the config, starts the process, waits until every device has its
// hidraw node, and stops it again by its process ID.
#ifndef KELCALIB_TESTS_VM_VC_UHID_PROCESS_H
#define KELCALIB_TESTS_VM_VC_UHID_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

struct VcUhidProcess {
    pid_t pid = -1;
    std::vector<std::string> nodes;  // "/dev/hidrawN" of each device, in config order
};

// Writes `configText` to `configPath` and starts vc-uhid on it with the touch
// file `touchPath`; true once it reported every device ready (within 15 s).
// On false `error` says why and no process is left running.
bool StartVcUhid(const std::string& configText, const std::string& configPath,
                 const std::string& touchPath, VcUhidProcess* process, std::string* error);

// Ends the process (SIGTERM, then SIGKILL after 5 s) and waits until the
// kernel has removed its hidraw nodes. Does nothing when none runs.
void StopVcUhid(VcUhidProcess* process);

// Replaces the touch file's content in one rename ("X Y", "X Y W H" or "none").
bool WriteTouch(const std::string& touchPath, const std::string& text);

// Whole file as text; false when it cannot be read.
bool ReadTextFile(const std::string& path, std::string* text);

#endif  // KELCALIB_TESTS_VM_VC_UHID_PROCESS_H
