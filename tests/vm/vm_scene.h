// The set-up every VM test shares: a scratch directory, a vc-uhid process
// presenting a config's devices, and its touch, store and log files. Removes
// everything when the test ends, whatever way it ends.
#ifndef KELCALIB_TESTS_VM_VM_SCENE_H
#define KELCALIB_TESTS_VM_VM_SCENE_H

#include <string>

#include "tests/vm/vc_uhid_process.h"

struct VmScene {
    std::string dir;        // scratch directory, e.g. /tmp/vm-Ab12Cd
    std::string config;     // dir + "/vc.conf"
    std::string touch;      // dir + "/touch"
    std::string store;      // dir + "/store" (for "store @STORE@")
    std::string log;        // dir + "/log" (for "log-file @LOG@")
    VcUhidProcess process;
    std::string error;      // why Start failed

    VmScene();
    ~VmScene();
    VmScene(const VmScene&) = delete;
    VmScene& operator=(const VmScene&) = delete;

    // Presents the devices of `configText` ("@STORE@" and "@LOG@" stand for
    // the scene's files). False with `error` set when they did not come up.
    bool Start(const std::string& configText);
    void Stop();

    // The committed store's text ("" when nothing was committed).
    std::string StoreText() const;
    // The transfer log's text.
    std::string LogText() const;
};

#endif  // KELCALIB_TESTS_VM_VM_SCENE_H
