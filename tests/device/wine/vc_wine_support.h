// Test support for the Wine suites that run the real device code against the
// virtual controller's replacement hid.dll and setupapi.dll (installed into
// the prefix by install_virtual_controller).
#ifndef KELCALIB_TESTS_DEVICE_WINE_VC_WINE_SUPPORT_H
#define KELCALIB_TESTS_DEVICE_WINE_VC_WINE_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

// One scenario: a fresh directory with a config file (plus a log-file line
// pointing at vc.log in the same directory), named by KELCALIB_VC_CONFIG, and
// both DLLs told to re-read it. Removed again by the destructor.
class VcScenario {
public:
    explicit VcScenario(const std::string& configLines);
    ~VcScenario();
    VcScenario(const VcScenario&) = delete;
    VcScenario& operator=(const VcScenario&) = delete;

    bool ok() const { return ok_; }
    const std::string& directory() const { return directory_; }

    // Transfer lines of the log ("SET 55 ok 101 : 55 01 ..."), without the
    // sequence and controller numbers; events are left out unless asked for.
    std::vector<std::string> Transfers(bool withEvents = false) const;

    // How many of the device files stand open in this process (an exclusive
    // open of a file that is open elsewhere is a sharing violation).
    int OpenDeviceFiles() const;

private:
    std::string directory_;
    bool ok_ = false;
};

// Closes any open device and puts gSession back to its start values.
void ResetSession();

// The replacement DLLs' test exports, through the modules the product code
// loaded (LoadHidApi must have succeeded).
bool VcReload();
long VcLivePreparsedData();
long VcLiveDeviceInfoSets();
long VcInvalidFrees();
// 0 none, 1 HidD_GetPreparsedData fails, 2 HidP_GetCaps fails,
// 3 HidP_GetValueCaps fails.
void VcInjectFailure(int which);

#endif  // KELCALIB_TESTS_DEVICE_WINE_VC_WINE_SUPPORT_H
