// landing-report: what a calibration run against the virtual controller did,
// readable at a glance. From the controller's config, its transfer log and
// its coefficient store before and after the run, it prints the raw points
// the program read at the four targets, the records it committed, and for
// each target where a touch lands on the screen before and after.
//
//   landing-report --config FILE --log FILE --before FILE --after FILE --screen WxH
//
// The store files may be missing: before, that means the controller held its
// identity coefficients; after, that nothing was committed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

namespace {

struct Options {
    std::string config;
    std::string log;
    std::string before;
    std::string after;
    int width = 0;
    int height = 0;
};

struct Point {
    int x;
    int y;
};

const char* const kTargetNames[4] = {"upper left", "lower right", "upper right", "lower left"};

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    *text = content.str();
    return true;
}

int Usage(const char* why) {
    std::fprintf(stderr, "landing-report: %s\n", why);
    std::fprintf(stderr,
                 "usage: landing-report --config FILE --log FILE --before FILE --after FILE --screen WxH\n");
    return 2;
}

bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            *error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (option == "--config") {
            options->config = value;
        } else if (option == "--log") {
            options->log = value;
        } else if (option == "--before") {
            options->before = value;
        } else if (option == "--after") {
            options->after = value;
        } else if (option == "--screen") {
            char x = 0;
            char rest = 0;
            if (std::sscanf(value.c_str(), "%d%c%d%c", &options->width, &x, &options->height, &rest) != 3 ||
                x != 'x' || options->width <= 0 || options->height <= 0) {
                *error = "--screen takes WIDTHxHEIGHT, e.g. 1024x768";
                return false;
            }
        } else {
            *error = "unknown option " + option;
            return false;
        }
    }
    if (options->config.empty() || options->log.empty() || options->width == 0) {
        *error = "--config, --log and --screen are required";
        return false;
    }
    return true;
}

// The last complete touch packet of a report as the program reads it: the
// report from byte 0 when it begins with 0x01, else from byte 1.
bool LastPacket(const std::vector<int>& report, Point* raw) {
    std::vector<int> data(report.begin() + (!report.empty() && report[0] == 0x01 ? 0 : 1), report.end());
    data.resize(100, 0);
    bool found = false;
    for (int k = 0; k < 88; ++k) {
        if (data[k] == 'U' && data[k + 1] == 'T' && data[k + 10] == 'U' && data[k + 11] == 'T') {
            raw->x = data[k + 3] | (data[k + 4] << 8);
            raw->y = data[k + 5] | (data[k + 6] << 8);
            found = true;
        }
    }
    return found;
}

// Raw points of the last pass: the last four touch reads before the last
// coefficient record the controller accepted.
std::vector<Point> RawPointsFromLog(const std::string& logText) {
    std::vector<Point> reads;
    std::vector<Point> atLastRecord;
    std::istringstream lines(logText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string sequence, controller, kind;
        words >> sequence >> controller >> kind;
        if (controller != "0") continue;
        if (kind == "EVENT") {
            std::string command, verdict;
            words >> command >> verdict;
            if (command == "Cx" && verdict == "accept") atLastRecord = reads;
            continue;
        }
        std::string id, result, length, colon;
        words >> id >> result >> length >> colon;
        if (kind != "GET" || result != "ok") continue;
        std::vector<int> bytes;
        std::string hex;
        while (words >> hex) bytes.push_back(static_cast<int>(std::strtol(hex.c_str(), nullptr, 16)));
        Point raw;
        if (LastPacket(bytes, &raw)) reads.push_back(raw);
    }
    if (atLastRecord.size() > 4) atLastRecord.erase(atLastRecord.begin(), atLastRecord.end() - 4);
    return atLastRecord;
}

bool LoadStore(const std::string& path, VcCoefficients* coefficients) {
    std::string text;
    return !path.empty() && ReadFile(path, &text) && VcParseStore(text, coefficients);
}

std::string Landing(const VcSystem& system, const VcTouch& touch) {
    VcLanding landing;
    if (!VcWhereTouchLands(system, 0, touch, &landing)) return "?";
    char text[64];
    std::snprintf(text, sizeof text, "(%.0f, %.0f)", landing.screenX, landing.screenY);
    return text;
}

double Miss(const VcSystem& system, const VcTouch& touch) {
    VcLanding landing;
    if (!VcWhereTouchLands(system, 0, touch, &landing)) return -1;
    return std::hypot(landing.screenX - touch.x, landing.screenY - touch.y);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("usage: landing-report --config FILE --log FILE --before FILE --after FILE --screen WxH\n");
        return 0;
    }
    if (!ParseArguments(argc, argv, &options, &error)) return Usage(error.c_str());

    VcConfig config;
    if (!VcLoadConfigFile(options.config, &config, &error)) return Usage(error.c_str());
    if (config.controllers.empty()) return Usage("the config has no controller");
    std::string logText;
    if (!ReadFile(options.log, &logText)) logText.clear();

    VcSystem before;
    config.controllers[0].storePath.clear();  // the stores are given separately
    VcReset(&before, config);
    VcSystem after = before;
    if (!LoadStore(options.before, &before.controllers[0].active)) {
        before.controllers[0].active = VcIdentityCoefficients();
    }
    const bool committed = LoadStore(options.after, &after.controllers[0].active);

    const std::vector<Point> raw = RawPointsFromLog(logText);
    const int w = options.width;
    const int h = options.height;
    const Point targets[4] = {{w / 5, h / 5}, {4 * w / 5, 4 * h / 5}, {4 * w / 5, h / 5}, {w / 5, 4 * h / 5}};

    std::printf("Panel model: %s, screen %dx%d\n\n", config.controllers[0].panel.preset.c_str(), w, h);
    std::printf("Raw points read at the targets (controller units 0..65535):\n");
    for (int i = 0; i < 4; ++i) {
        if (i < static_cast<int>(raw.size())) {
            std::printf("  target %d %-12s at (%4d, %4d): raw (%5d, %5d)\n", i, kTargetNames[i], targets[i].x,
                        targets[i].y, raw[i].x, raw[i].y);
        } else {
            std::printf("  target %d %-12s at (%4d, %4d): not read\n", i, kTargetNames[i], targets[i].x,
                        targets[i].y);
        }
    }
    std::printf("\nCommitted records (factor of raw x, factor of raw y, offset, divisor):\n");
    if (committed) {
        for (int axis = 0; axis < 2; ++axis) {
            const VcAxisCoefficients& a = after.controllers[0].active.axis[axis];
            std::printf("  %c: %d %d %d %d\n", axis == 0 ? 'X' : 'Y', a.factorX, a.factorY, a.offset, a.divisor);
        }
    } else {
        std::printf("  none: nothing was committed\n");
        after = before;
    }
    std::printf("\nWhere a touch on each target lands (screen pixels):\n");
    std::printf("  %-22s %-16s %-16s %s\n", "target", "before", "after", "miss before -> after");
    for (int i = 0; i < 4; ++i) {
        const VcTouch touch{targets[i].x, targets[i].y, w, h, true};
        char name[32];
        std::snprintf(name, sizeof name, "%d (%d, %d)", i, targets[i].x, targets[i].y);
        std::printf("  %-22s %-16s %-16s %.1f px -> %.1f px\n", name, Landing(before, touch).c_str(),
                    Landing(after, touch).c_str(), Miss(before, touch), Miss(after, touch));
    }
    return 0;
}
