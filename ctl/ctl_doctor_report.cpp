// doctor's report, as text for people and as JSON for scripts.
#include <cstdio>

#include "ctl/ctl_doctor.h"
#include "ctl/ctl_output.h"

namespace {

const char* VerdictWord(DoctorVerdict verdict) {
    switch (verdict) {
        case DoctorVerdict::kOk: return "ok";
        case DoctorVerdict::kProblem: return "problem";
        case DoctorVerdict::kNote: return "note";
    }
    return "note";
}

void PrintText(const std::vector<DoctorSection>& sections, int problems) {
    for (const DoctorSection& section : sections) {
        std::printf("%s\n", section.title.c_str());
        for (const DoctorFinding& f : section.findings) {
            std::printf("  %-8s %s: %s\n", f.verdict == DoctorVerdict::kProblem ? "PROBLEM" : VerdictWord(f.verdict),
                        f.check, f.text.c_str());
            if (!f.advice.empty()) std::printf("           what to do: %s\n", f.advice.c_str());
        }
    }
    std::printf("%d problem%s found\n", problems, problems == 1 ? "" : "s");
}

void PrintJson(const std::vector<DoctorSection>& sections, int problems) {
    std::printf("{\"sections\":[");
    for (std::size_t s = 0; s < sections.size(); ++s) {
        const DoctorSection& section = sections[s];
        std::printf("%s{\"index\":", s > 0 ? "," : "");
        if (section.index >= 0) {
            std::printf("%d", section.index);
        } else {
            std::printf("null");
        }
        std::printf(",\"title\":");
        PrintJsonString(section.title.c_str());
        std::printf(",\"findings\":[");
        for (std::size_t i = 0; i < section.findings.size(); ++i) {
            const DoctorFinding& f = section.findings[i];
            std::printf("%s{\"check\":", i > 0 ? "," : "");
            PrintJsonString(f.check);
            std::printf(",\"verdict\":\"%s\",\"text\":", VerdictWord(f.verdict));
            PrintJsonString(f.text.c_str());
            if (!f.advice.empty()) {
                std::printf(",\"do\":");
                PrintJsonString(f.advice.c_str());
            }
            std::printf("}");
        }
        std::printf("]}");
    }
    std::printf("],\"problems\":%d}\n", problems);
}

}  // namespace

int PrintDoctorReport(bool json, const std::vector<DoctorSection>& sections) {
    int problems = 0;
    for (const DoctorSection& section : sections) {
        for (const DoctorFinding& f : section.findings) problems += f.verdict == DoctorVerdict::kProblem;
    }
    if (json) {
        PrintJson(sections, problems);
    } else {
        PrintText(sections, problems);
    }
    std::fflush(stdout);
    return problems;
}
