// kelcalib-ctl doctor: one report of what stands between a touch on the
// panel and the cursor. Each check says ok, or names a problem with what to
// do about it, or adds a note (something it could not look at).
#ifndef KELCALIB_CTL_CTL_DOCTOR_H
#define KELCALIB_CTL_CTL_DOCTOR_H

#include <string>
#include <vector>

#include "ctl/ctl_options.h"

// Exit status of doctor when it names a problem.
constexpr int kCtlExitProblems = 5;

enum class DoctorVerdict { kOk, kProblem, kNote };

struct DoctorFinding {
    const char* check;  // "access", "udev rule", "input device", ...
    DoctorVerdict verdict;
    std::string text;
    std::string advice;  // what to do; empty for ok and notes
};

// The findings about one controller (index >= 0) or the system (index -1).
struct DoctorSection {
    int index;
    std::string title;
    std::vector<DoctorFinding> findings;
};

// Runs doctor (Linux; elsewhere it says it is not there) and returns the
// exit status: 0 when no check named a problem, kCtlExitProblems when one
// did (no controller to look at is one, with what to do).
int RunDoctor(const CtlOptions& options);

// Prints the report (text, or one JSON object) and returns the number of
// problems in it.
int PrintDoctorReport(bool json, const std::vector<DoctorSection>& sections);

#endif  // KELCALIB_CTL_CTL_DOCTOR_H
