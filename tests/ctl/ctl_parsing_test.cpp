// kelcalib-ctl's command line and records file, case by case.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ctl/ctl_options.h"
#include "ctl/ctl_records.h"

namespace {

bool Parse(std::vector<const char*> words, CtlOptions* options, std::string* error) {
    words.insert(words.begin(), "kelcalib-ctl");
    char message[kCtlMessageSize] = "";
    const bool ok = ParseCtlOptions(static_cast<int>(words.size()), words.data(), options, message,
                                    sizeof message);
    *error = message;
    return ok;
}

bool ParseRecords(const std::string& text, std::int32_t records[2][4], std::string* error) {
    char message[kCtlMessageSize] = "";
    const bool ok = ParseRecordsText(text.data(), text.size(), records, message, sizeof message);
    *error = message;
    return ok;
}

struct Accepted {
    std::vector<const char*> words;
    CtlCommand command;
    std::uint16_t index;
    std::uint32_t seconds;
    std::uint16_t vendorId;
    bool json, all, yes;
    const char* path;
};

TEST(CtlOptions, AcceptedCommandLines) {
    const std::uint16_t vid = KELCALIB_VENDOR_ID;
    const Accepted cases[] = {
        {{"list"}, CtlCommand::kList, 0, 0, vid, false, false, false, ""},
        {{"--json", "list", "--all"}, CtlCommand::kList, 0, 0, vid, true, true, false, ""},
        {{"list", "--vid", "0x1a2B"}, CtlCommand::kList, 0, 0, 0x1A2B, false, false, false, ""},
        {{"--vid=04d8", "list"}, CtlCommand::kList, 0, 0, 0x04D8, false, false, false, ""},
        {{"watch", "--index", "3", "--seconds", "86400"}, CtlCommand::kWatch, 3, 86400, vid, false, false, false, ""},
        {{"watch", "--index=65535"}, CtlCommand::kWatch, 65535, 0, vid, false, false, false, ""},
        {{"reset", "--yes"}, CtlCommand::kReset, 0, 0, vid, false, false, true, ""},
        {{"apply", "--yes", "r.txt", "--index", "1"}, CtlCommand::kApply, 1, 0, vid, false, false, true, "r.txt"},
        {{"apply", "-", "--yes"}, CtlCommand::kApply, 0, 0, vid, false, false, true, "-"},
        {{"apply", "--yes", "--", "--odd-name"}, CtlCommand::kApply, 0, 0, vid, false, false, true, "--odd-name"},
        {{"--json", "doctor", "--index", "2"}, CtlCommand::kDoctor, 2, 0, vid, true, false, false, ""},
    };
    for (const Accepted& c : cases) {
        const std::string line = c.words.empty() ? "" : c.words[0];
        CtlOptions o;
        std::string error;
        ASSERT_TRUE(Parse(c.words, &o, &error)) << line << ": " << error;
        EXPECT_EQ(o.command, c.command) << line;
        EXPECT_EQ(o.index, c.index) << line;
        EXPECT_EQ(o.seconds, c.seconds) << line;
        EXPECT_EQ(o.vendorId, c.vendorId) << line;
        EXPECT_EQ(o.json, c.json) << line;
        EXPECT_EQ(o.all, c.all) << line;
        EXPECT_EQ(o.yes, c.yes) << line;
        EXPECT_STREQ(o.recordsPath != nullptr ? o.recordsPath : "", c.path) << line;
    }
}

TEST(CtlOptions, HelpAndVersionWinOverBadWords) {
    CtlOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"frobnicate", "--index", "x", "--help"}, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"--version", "--bogus"}, &o, &error));
    EXPECT_TRUE(o.version);
}

struct Refused {
    std::vector<const char*> words;
    const char* message;
};

TEST(CtlOptions, RefusedCommandLines) {
    const Refused cases[] = {
        {{}, "no command"},
        {{"--json"}, "no command"},
        {{"lsit"}, "unknown command 'lsit'"},
        {{"doctor", "--yes"}, "--yes does not apply to doctor"},
        {{"list", "--bogus"}, "unknown option '--bogus'"},
        {{"list", "extra"}, "unexpected argument 'extra'"},
        {{"apply", "a", "b"}, "unexpected argument 'b'"},
        {{"list", "--json", "--json"}, "--json is given twice"},
        {{"list", "--all=1"}, "--all takes no value"},
        {{"watch", "--index"}, "--index needs a value"},
        {{"watch", "--index", "-1"}, "--index takes a number"},
        {{"watch", "--index", "65536"}, "--index takes a number"},
        {{"watch", "--seconds", "0"}, "--seconds takes a number"},
        {{"watch", "--seconds", "86401"}, "--seconds takes a number"},
        {{"watch", "--seconds", "1.5"}, "--seconds takes a number"},
        {{"list", "--vid", "0x"}, "--vid takes"},
        {{"list", "--vid", "0x10000"}, "--vid takes"},
        {{"list", "--vid", "fffg"}, "--vid takes"},
        {{"list", "--yes"}, "--yes does not apply to list"},
        {{"list", "--index", "1"}, "--index does not apply to list"},
        {{"reset", "--seconds", "5"}, "--seconds does not apply to reset"},
        {{"watch", "--all"}, "--all does not apply to watch"},
    };
    for (const Refused& c : cases) {
        CtlOptions o;
        std::string error;
        EXPECT_FALSE(Parse(c.words, &o, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
    }
}

constexpr const char kSolveOutput[] =
    "expected 6553 6553 26213 26213 26213 6553 6553 26213\n"
    "coefficients -2124 0 69566084 0 2123 1061 2123 1\n"
    "record-x -2124 0 32767 2123\n"
    "record-y 0 2123 0 2123\n"
    "fit PASS\n";

TEST(CtlRecords, AcceptedFiles) {
    struct Case {
        std::string text;
        std::int32_t records[2][4];
    };
    const Case cases[] = {
        {kSolveOutput, {{-2124, 0, 32767, 2123}, {0, 2123, 0, 2123}}},
        {"record-y 0 1 0 1\r\nrecord-x 1 0 0 1\r\n", {{1, 0, 0, 1}, {0, 1, 0, 1}}},
        // The edges of what calib-solve produces.
        {"\trecord-x  -32767 32767 -134217727 2147483647\n\nrecord-y 0 1 134217727 1",
         {{-32767, 32767, -134217727, INT32_MAX}, {0, 1, 134217727, 1}}},
        {"# measured on panel 7\nrecorded by hand\nrecord-x 1 0 0 1\nrecord-y 0 1 0 1\n", {{1, 0, 0, 1}, {0, 1, 0, 1}}},
    };
    for (const Case& c : cases) {
        std::int32_t records[2][4] = {};
        std::string error;
        ASSERT_TRUE(ParseRecords(c.text, records, &error)) << c.text << ": " << error;
        for (int axis = 0; axis < 2; ++axis) {
            for (int v = 0; v < 4; ++v) EXPECT_EQ(records[axis][v], c.records[axis][v]) << c.text;
        }
    }
}

TEST(CtlRecords, MalformedFilesAreRefusedNamingTheLine) {
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"", "no record-x line"},
        {"record-x 1 0 0 1\n", "no record-y line"},
        {"record-y 0 1 0 1\n", "no record-x line"},
        {"record-x 1 0 0\nrecord-y 0 1 0 1\n", "line 1: record-x needs exactly 4 numbers, not 3"},
        {"record-x 1 0 0 1\nrecord-y 0 1 0 1 7\n", "line 2: record-y needs exactly 4 numbers, not 5"},
        {"record-x 1 0 0 0\nrecord-y 0 1 0 1\n", "line 1: record-x divisor 0 is outside 1..2147483647"},
        {"record-x 1 0 0 1\nrecord-y 0 1 0 -0\n", "line 2: record-y divisor 0 is outside"},
        // Beyond what calib-solve can produce.
        {"record-x 1 0 0 -1\nrecord-y 0 1 0 1\n", "line 1: record-x divisor -1 is outside"},
        {"record-x 32768 0 0 1\nrecord-y 0 1 0 1\n", "line 1: record-x factor of raw x 32768 is outside -32767..32767"},
        {"record-x 1 0 0 1\nrecord-y 0 -32768 0 1\n", "line 2: record-y factor of raw y -32768 is outside"},
        {"record-x 1 0 134217728 1\nrecord-y 0 1 0 1\n", "line 1: record-x offset 134217728 is outside -134217727..134217727"},
        {"record-x 2147483648 0 0 1\n", "line 1: '2147483648' is not a signed 32-bit integer"},
        {"record-x -2147483649 0 0 1\n", "line 1: '-2147483649' is not"},
        {"record-x +1 0 0 1\n", "line 1: '+1' is not"},
        {"record-x 0x10 0 0 1\n", "line 1: '0x10' is not"},
        {"record-x 1 0 0 1e3\n", "line 1: '1e3' is not"},
        {"record-x - 0 0 1\n", "line 1: '-' is not"},
        {"record-x 99999999999999999999 0 0 1\n", "line 1: '99999999999999999999' is not"},
        {"record-x 1 0 0 1\nrecord-y 0 1 0 1\n\nrecord-x 1 0 0 1\n", "line 4: a second record-x line (the first is line 1)"},
        {"record-xy 1 0 0 1\n", "line 1: unknown record 'record-xy'"},
        {"record 1 0 0 1\n", "line 1: unknown record 'record'"},
        {std::string("record-x 1 0 0 1\nrecord-y 0 1\0 0 1\n", 35), "line 2: a control character"},
        {"record-x 1 0\r0 1\n", "line 1: a control character"},
        {std::string(kRecordsFileMax + 1, '\n'), "more than 65536 bytes"},
    };
    for (const Case& c : cases) {
        std::int32_t records[2][4] = {{7, 7, 7, 7}, {7, 7, 7, 7}};
        std::string error;
        EXPECT_FALSE(ParseRecords(c.text, records, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << "want: " << c.message << "\ngot: " << error;
        EXPECT_EQ(records[0][0], 7) << "records written on failure: " << c.message;
    }
}

}  // namespace
