// What --persist writes (PersistFilesFor, FormatUdevTagRule,
// FormatXorgSnippet) and the compositor's step, from arbitrary names,
// places and matrices: every line of a file is a comment or one of the
// fixed directives, and no control byte but the line ends is in any text,
// so that no name can change what a file means.
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/mapping_advice.h"
#include "device/name_text.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

std::string TakeText(FuzzInput* in) {
    const std::size_t length = TakeByte(in) % 80;
    std::string text;
    for (std::size_t i = 0; i < length && in->pos < in->size; ++i) {
        const char c = static_cast<char>(TakeByte(in));
        if (c != '\0') text += c;
    }
    return text;
}

// No control byte but '\n'.
void CheckBytes(const char* text) {
    for (const char* line = text; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::string one(line, end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line));
        if (!IsPrintableText(one.c_str())) std::abort();
        line = end != nullptr ? end + 1 : line + one.size();
    }
}

// Each line not a comment starts with one of `directives`, in that order.
void CheckLines(const char* text, const char* const* directives, int count) {
    CheckBytes(text);
    int next = 0;
    for (const char* line = text; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) std::abort();  // every line ends
        if (line[0] != '#') {
            if (next >= count || std::strncmp(line, directives[next], std::strlen(directives[next])) != 0) {
                std::abort();
            }
            ++next;
        }
        line = end + 1;
    }
    if (next != count) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    const std::uint16_t vendor = TakeU16(&in);
    const std::uint16_t product = TakeU16(&in);
    const bool byIdPath = (TakeByte(&in) & 1) != 0;
    const std::string input = TakeText(&in);
    const std::string output = TakeText(&in);
    const std::string place = TakeText(&in);
    const std::string uniq = TakeText(&in);
    double matrix[9];
    for (double& value : matrix) value = static_cast<double>(TakeI32(&in)) / 65536.0;
    const MappingSubject subject = {vendor, product, input.c_str(), output.c_str(), byIdPath, place.c_str(),
                                    uniq.c_str()};
    PersistFiles files{};
    if (PersistFilesFor(subject, &files)) {
        char rule[1024];
        char snippet[1536];
        static const char* const kRule[] = {"ACTION!=\"remove\", SUBSYSTEM==\"input\", KERNEL==\"event*\", "};
        static const char* const kSnippet[] = {"Section \"InputClass\"", "    Identifier \"kelcalib_",
                                               "    MatchTag \"kelcalib_", "    MatchDevicePath \"/dev/input/event*\"",
                                               "    Option \"TransformationMatrix\" \"", "EndSection"};
        if (FormatUdevTagRule(subject, files, rule, sizeof rule)) CheckLines(rule, kRule, 1);
        if (FormatXorgSnippet(subject, files, matrix, snippet, sizeof snippet)) CheckLines(snippet, kSnippet, 6);
        if (std::strncmp(rule, kPersistMarker, std::strlen(kPersistMarker)) != 0) std::abort();
    }
    for (const Compositor compositor : {Compositor::kUnknown, Compositor::kSway, Compositor::kHyprland,
                                        Compositor::kGnome, Compositor::kKde, Compositor::kWeston}) {
        char step[1024];
        FormatCompositorStep(compositor, subject, step, sizeof step);
        CheckBytes(step);
    }
    return 0;
}
