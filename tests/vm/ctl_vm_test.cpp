// kelcalib-ctl against a real kernel: list, watch, reset and apply on the
// virtual controller presented by vc-uhid, checked through what the
// controller's store committed and what its log saw.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "device/controller_protocol.h"
#include "tests/vm/vm_scene.h"
#include "tools/virtual-controller/virtual_controller.h"

namespace {

const std::uint16_t kVendor = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);

std::string Controller(const std::string& settings = "") {
    char vendor[32];
    std::snprintf(vendor, sizeof vendor, "0x%04X", kVendor);
    return std::string("controller\nvendor-id ") + vendor + "\nstore @STORE@\n" + settings + "\n";
}

struct CtlRun {
    int status = -1;  // exit status; -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// A started kelcalib-ctl: its output goes to files in the scene directory.
struct CtlProcess {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// `user`: run as this user ID (not root) when 0 or above.
CtlProcess StartCtl(const VmScene& scene, const std::vector<std::string>& args,
                    const std::string& input = "", int user = -1) {
    CtlProcess process;
    process.outPath = scene.dir + "/ctl.out";
    process.errPath = scene.dir + "/ctl.err";
    const std::string inPath = scene.dir + "/ctl.in";
    if (std::FILE* in = std::fopen(inPath.c_str(), "wb")) {
        std::fputs(input.c_str(), in);
        std::fclose(in);
    }
    const char* program = std::getenv("KELCALIB_CTL");
    const std::string path = program != nullptr ? program : "/bin/kelcalib-ctl";
    process.pid = fork();
    if (process.pid == 0) {
        const int in = open(inPath.c_str(), O_RDONLY);
        const int out = open(process.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(process.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (user >= 0 && (setgid(static_cast<gid_t>(user)) != 0 || setuid(static_cast<uid_t>(user)) != 0)) {
            _exit(126);
        }
        std::vector<char*> argv = {const_cast<char*>(path.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    return process;
}

// Waits up to 30 s for the process (then ends it by its ID) and collects its output.
CtlRun FinishCtl(CtlProcess* process) {
    CtlRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    pid_t done = 0;
    while (process->pid > 0 && (done = waitpid(process->pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (process->pid > 0 && done == 0) {
        kill(process->pid, SIGKILL);
        waitpid(process->pid, &status, 0);
    } else if (done > 0 && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    process->pid = -1;
    ReadTextFile(process->outPath, &run.out);
    ReadTextFile(process->errPath, &run.err);
    for (const std::string& path : {process->outPath, process->errPath}) std::remove(path.c_str());
    return run;
}

CtlRun RunCtl(const VmScene& scene, const std::vector<std::string>& args,
              const std::string& input = "", int user = -1) {
    CtlProcess process = StartCtl(scene, args, input, user);
    CtlRun run = FinishCtl(&process);
    std::remove((scene.dir + "/ctl.in").c_str());
    return run;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every send of the handshake after `accepts` accepted commands rejected.
std::string RejectEverySendAfter(int accepts) {
    return "fault reject " + std::to_string(kSendsPerHandshake) + " after-accepts " + std::to_string(accepts);
}

std::string StoreOf(std::int32_t xfx, std::int32_t xfy, std::int32_t xo, std::int32_t xd,
                    std::int32_t yfx, std::int32_t yfy, std::int32_t yo, std::int32_t yd) {
    return VcFormatStore(VcCoefficients{{{xfx, xfy, xo, xd}, {yfx, yfy, yo, yd}}});
}

void WriteStore(const VmScene& scene, const std::string& text) {
    if (std::FILE* file = std::fopen(scene.store.c_str(), "wb")) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
}

TEST(VmCtl, ListShowsEachControllerWithItsFactsAndExits3WithoutOne) {
    {
        VmScene scene;
        ASSERT_TRUE(scene.Start("other-device 0x1234 0x0001\n" +
                                Controller("layout vendor\nreport-length 64\nvalue-caps 2 4095 2047\n"
                                           "descriptor-ids 01") +
                                Controller()))
            << scene.error;
        const CtlRun run = RunCtl(scene, {"list", "--json"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(Has(run.out, "{\"index\":0,\"path\":\"/dev/hidraw1\"")) << run.out;
        EXPECT_TRUE(Has(run.out, "\"feature_report_length\":64,\"logical_max_x\":4095,\"logical_max_y\":2047"))
            << run.out;
        EXPECT_TRUE(Has(run.out, "\"report_ids\":[\"0x01\"]")) << run.out;
        EXPECT_TRUE(Has(run.out, "{\"index\":1,\"path\":\"/dev/hidraw2\"")) << run.out;
        EXPECT_TRUE(Has(run.out, "\"report_ids\":[\"0x55\",\"0x01\",\"0x00\"]")) << run.out;
        EXPECT_FALSE(Has(run.out, "/dev/hidraw0")) << "not ours, shown only with --all";
        const CtlRun all = RunCtl(scene, {"list", "--all"});
        EXPECT_EQ(all.status, 0) << all.err;
        EXPECT_TRUE(Has(all.out, "not ours: /dev/hidraw0 (1234:0001")) << all.out;
    }
    VmScene scene;
    ASSERT_TRUE(scene.Start("other-device 0x1234 0x0001\n")) << scene.error;
    const CtlRun run = RunCtl(scene, {"list"});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
}

TEST(VmCtl, AUserWithoutAccessIsToldTheNodeAndTheUdevRule) {
    // devtmpfs makes hidraw nodes root's alone (0600), as a system without a
    // rule for the controller does.
    VmScene scene;
    ASSERT_TRUE(scene.Start("other-device 0x1234 0x0001\n" + Controller())) << scene.error;
    char rule[64];
    std::snprintf(rule, sizeof rule, "KERNELS==\"*:%04X:*\", TAG+=\"uaccess\"", kVendor);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"}, std::vector<std::string>{"watch", "--seconds", "1"}}) {
        const CtlRun run = RunCtl(scene, args, "", 1000);
        EXPECT_EQ(run.status, 4) << args[0] << ": " << run.out << run.err;
        EXPECT_TRUE(Has(run.err, "/dev/hidraw1: Permission denied")) << args[0] << ": " << run.err;
        EXPECT_TRUE(Has(run.err, rule)) << args[0] << ": " << run.err;
    }
}

TEST(VmCtl, WatchPrintsTheTouchesTheFirmwareReportsThenAborts) {
    VmScene scene;
    ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller())) << scene.error;
    // The finger: at the centre, lifted, then at a quarter of the screen.
    ASSERT_TRUE(WriteTouch(scene.touch, "512 384"));
    CtlProcess watch = StartCtl(scene, {"watch", "--json", "--seconds", "4"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(WriteTouch(scene.touch, "none"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(WriteTouch(scene.touch, "256 192"));
    const CtlRun run = FinishCtl(&watch);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::size_t centre = run.out.find("\"event\":\"touch\",\"x\":32768,\"y\":32768}");
    const std::size_t lift = run.out.find("\"event\":\"lift\"", centre);
    const std::size_t quarter = run.out.find("\"event\":\"touch\",\"x\":16384,\"y\":16384}", lift);
    EXPECT_NE(centre, std::string::npos) << run.out;
    EXPECT_NE(lift, std::string::npos) << run.out;
    EXPECT_NE(quarter, std::string::npos) << run.out;
    // Cued first, back on the committed calibration at the end, nothing committed.
    const std::string log = scene.LogText();
    const std::size_t cue = log.find("EVENT Q cue");
    EXPECT_NE(cue, std::string::npos) << log;
    EXPECT_NE(log.find("EVENT Rs restore", cue), std::string::npos) << log;
    EXPECT_EQ(scene.StoreText(), "");
}

TEST(VmCtl, WatchEndsWhenTheKernelSaysTheControllerIsGone) {
    // Unplugged at its fifth transfer: the kernel's ENODEV from then on ends
    // the watch with exit 1 and why, long before its ten seconds.
    VmScene scene;
    ASSERT_TRUE(scene.Start(Controller("fault gone-after 4"))) << scene.error;
    ASSERT_TRUE(WriteTouch(scene.touch, "512 384"));
    const CtlRun run = RunCtl(scene, {"watch", "--seconds", "10"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(Has(run.err, "controller 0 is gone (unplugged?)")) << run.err;
}

TEST(VmCtl, ResetCommitsTheIdentityOnlyWhenAskedAndAccepted) {
    const std::string before = StoreOf(2, 0, 5, 3, 0, 2, 7, 3);
    const std::string identity = VcFormatStore(VcIdentityCoefficients());
    struct Case {
        const char* what;
        std::string settings;
        std::vector<std::string> args;
        bool succeeds;
        std::string store;
        bool sends;  // false: refused before any transfer
    };
    const std::vector<Case> cases = {
        {"without --yes", "", {"reset"}, false, before, false},
        {"accepted", "", {"reset", "--yes"}, true, identity, true},
        {"the Y identity rejected", RejectEverySendAfter(1), {"reset", "--yes"}, false, before, true},
        {"the commit rejected", RejectEverySendAfter(3), {"reset", "--yes"}, false, before, true},
    };
    for (const Case& c : cases) {
        VmScene scene;
        WriteStore(scene, before);
        ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller(c.settings))) << scene.error;
        const CtlRun run = RunCtl(scene, c.args);
        EXPECT_EQ(run.status == 0, c.succeeds) << c.what << ": " << run.out << run.err;
        if (!c.succeeds) {
            EXPECT_FALSE(run.err.empty()) << c.what << ": says why";
        }
        EXPECT_EQ(scene.StoreText(), c.store) << c.what;
        EXPECT_EQ(Has(scene.LogText(), " SET "), c.sends) << c.what;
    }
}

TEST(VmCtl, ApplyCommitsExactlyTheRecordsGiven) {
    const std::string records = "record-x 16984 0 -49 33968\nrecord-y 0 16984 -49 33968\n";
    const std::string applied = StoreOf(16984, 0, -49, 33968, 0, 16984, -49, 33968);
    const std::string before = VcFormatStore(VcIdentityCoefficients());
    struct Case {
        const char* what;
        std::string settings;
        std::vector<std::string> args;  // "@FILE@": the records file
        std::string input;              // the file's text, or standard input's with "-"
        bool succeeds;
        std::string store;
        bool sends;  // false: refused before any transfer
    };
    const std::vector<Case> cases = {
        {"from a file", "", {"apply", "--yes", "@FILE@"}, records, true, applied, true},
        {"from standard input", "", {"apply", "--yes", "-"}, records, true, applied, true},
        {"without --yes", "", {"apply", "@FILE@"}, records, false, before, false},
        {"a malformed record", "", {"apply", "--yes", "@FILE@"},
         "record-x 16984 0 -49\nrecord-y 0 16984 -49 33968\n", false, before, false},
        {"a zero divisor", "", {"apply", "--yes", "@FILE@"},
         "record-x 16984 0 -49 0\nrecord-y 0 16984 -49 33968\n", false, before, false},
        {"the Y record rejected", RejectEverySendAfter(1), {"apply", "--yes", "@FILE@"},
         records, false, before, true},
    };
    for (const Case& c : cases) {
        VmScene scene;
        WriteStore(scene, before);
        ASSERT_TRUE(scene.Start("log-file @LOG@\n" + Controller(c.settings))) << scene.error;
        const std::string file = scene.dir + "/records.txt";
        std::vector<std::string> args = c.args;
        for (std::string& arg : args) {
            if (arg == "@FILE@") arg = file;
        }
        if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
            std::fputs(c.input.c_str(), out);
            std::fclose(out);
        }
        const CtlRun run = RunCtl(scene, args, c.input);
        std::remove(file.c_str());
        EXPECT_EQ(run.status == 0, c.succeeds) << c.what << ": " << run.out << run.err;
        if (!c.succeeds) {
            EXPECT_FALSE(run.err.empty()) << c.what << ": says why";
        }
        EXPECT_EQ(scene.StoreText(), c.store) << c.what;
        EXPECT_EQ(Has(scene.LogText(), " SET "), c.sends) << c.what;
    }
}

}  // namespace
