// Touch sources of the hidraw interposer (see vc_hidraw_touch.h).
#include "tools/virtual-controller/linux/vc_hidraw_touch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<VcHidrawTouchSource> gInstalledSource{nullptr};

void ReportOnce(const std::string& message) {
    static std::string last;
    if (message == last) return;
    last = message;
    std::fprintf(stderr, "virtual controller hidraw: %s\n", message.c_str());
}

// "X Y WIDTH HEIGHT" or "none" from KELCALIB_VC_TOUCH_FILE.
int TouchFromFile(std::int32_t* x, std::int32_t* y, std::int32_t* width, std::int32_t* height) {
    const char* path = std::getenv("KELCALIB_VC_TOUCH_FILE");
    if (path == nullptr || *path == '\0') {
        *x = 0;
        *y = 0;
        *width = 1024;
        *height = 768;
        return 1;
    }
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    char text[128] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    char word[8] = {};
    if (std::sscanf(text, " %7s", word) == 1 && std::strcmp(word, "none") == 0) return 0;
    long values[4];
    char rest = 0;
    if (std::sscanf(text, " %ld %ld %ld %ld %c", &values[0], &values[1], &values[2], &values[3],
                    &rest) != 4 ||
        values[2] <= 0 || values[3] <= 0 || values[2] > 100000 || values[3] > 100000 ||
        values[0] < -100000 || values[0] > 100000 || values[1] < -100000 || values[1] > 100000) {
        ReportOnce(std::string(path) + ": expected \"X Y WIDTH HEIGHT\" or \"none\"");
        return 0;
    }
    *x = static_cast<std::int32_t>(values[0]);
    *y = static_cast<std::int32_t>(values[1]);
    *width = static_cast<std::int32_t>(values[2]);
    *height = static_cast<std::int32_t>(values[3]);
    return 1;
}

struct NamedSource {
    const char* name;
    VcHidrawTouchSource source;
};

// The sources KELCALIB_VC_TOUCH_SOURCE may name.
const NamedSource kSources[] = {
    {"file", TouchFromFile},
};

VcHidrawTouchSource ConfiguredSource() {
    const char* name = std::getenv("KELCALIB_VC_TOUCH_SOURCE");
    if (name == nullptr || *name == '\0') return TouchFromFile;
    for (const NamedSource& entry : kSources) {
        if (std::strcmp(entry.name, name) == 0) return entry.source;
    }
    ReportOnce(std::string("unknown touch source '") + name + "'; no touch");
    return nullptr;
}

}  // namespace

VcTouch VcHidrawCurrentTouch() {
    VcTouch touch{0, 0, 1024, 768, false};
    VcHidrawTouchSource source = gInstalledSource.load();
    if (source == nullptr) source = ConfiguredSource();
    if (source != nullptr) {
        touch.touching =
            source(&touch.x, &touch.y, &touch.screenWidth, &touch.screenHeight) != 0;
    }
    return touch;
}

extern "C" void KelVcHidrawSetTouchSource(VcHidrawTouchSource source) {
    gInstalledSource.store(source);
}
