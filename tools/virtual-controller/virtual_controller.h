// The virtual touch controller: a model of the controller's firmware side of
// the feature-report command protocol, and of the HID facts a real controller
// presents (vendor ID, feature report length, report IDs, input value
// capabilities). Used by the native test build (through native_adapter) and
// by the replacement hid.dll / setupapi.dll that present it to the program
// under Wine. Never shipped with the program.
//
// Plain C++17, no platform headers. Everything lives in one VcSystem value
// owned by the caller; the functions are free functions over it.
//
// The config format and the transfer log format are documented in README.md
// beside this file.
#ifndef KELCALIB_TOOLS_VIRTUAL_CONTROLLER_H
#define KELCALIB_TOOLS_VIRTUAL_CONTROLLER_H

#include <cstdint>
#include <string>
#include <vector>

// Environment variable naming the config file (read by the replacement DLLs).
constexpr const char* kVcConfigEnvironmentVariable = "KELCALIB_VC_CONFIG";

constexpr int kVcMaxControllers = 4;
constexpr int kVcMaxValueCaps = 3;
constexpr int kVcMaxDeclaredReports = 8;
constexpr int kVcMaxCollections = 3;

// How a controller's top-level collections are laid out (config `layout`).
enum class VcLayout {
    // A touch screen collection (digitizer page, touch screen usage) with the
    // tip switch and the input values, then a vendor-defined collection
    // holding the feature reports: the common layout of a controller made
    // for Windows, which opens the touch screen collection for itself.
    kTouchAndVendor,
    // One vendor-defined collection holding the input values and the
    // feature reports.
    kVendor,
};

// A feature report a controller's report descriptor declares: its report ID
// and its length, report-ID byte included (0: the controller's report-length).
struct VcFeatureReport {
    std::uint8_t id;
    std::uint16_t length;
};

// One axis of the firmware's coefficients:
// device = (factorX * rawX + factorY * rawY) / divisor + offset, in 64-bit.
struct VcAxisCoefficients {
    std::int32_t factorX;
    std::int32_t factorY;
    std::int32_t offset;
    std::int32_t divisor;
};

// Index 0 is the X axis, 1 the Y axis.
struct VcCoefficients {
    VcAxisCoefficients axis[2];
};

VcCoefficients VcIdentityCoefficients();

// Panel model: raw = 65535 * (a*u + b*v + c) for X and 65535 * (d*u + e*v + f)
// for Y, where u = x / width and v = y / height are the screen position
// normalised to 0..1; then uniform noise of +-noise raw units, clamped to
// 0..65535.
struct VcPanelModel {
    std::string preset;  // "straight", "mirrored", ..., or "affine"
    double a, b, c, d, e, f;
    std::int32_t noise;  // raw units, 0 for none
};

// Fills `model` from a preset name; false for an unknown name.
bool VcPanelPreset(const std::string& name, VcPanelModel* model);

struct VcFaults {
    bool silent = false;          // ignores commands, its report holds only zeros
    std::int32_t rejectNext = 0;  // the next N acknowledged commands are rejected
    bool garbage = false;         // replies are garbage bytes
    bool noCr = false;            // replies lack their closing 0x0D
    bool halfReply = false;       // replies break off after their mnemonic
    bool otherReply = false;      // replies carry another command's mnemonic
    bool trailingBytes = false;   // replies are followed by further non-zero bytes
    bool noPackets = false;       // while cued the report holds no touch packets
    bool singlePacket = false;    // while cued the report holds one packet only
    std::int32_t goneAfter = -1;  // -1: never; else every transfer after N fails
    std::uint32_t slowMs = 0;     // every transfer takes this long
};

// A fault held back until the controller has come to a point of the session:
// `count` target cues seen, or `count` commands accepted (Cx, Cy, CS, WC).
// Once there, `fault` is added to the active faults: flags are set, a reject
// count starts afresh, gone-after counts transfers from then on, slow applies.
struct VcLateFault {
    VcFaults fault;
    bool afterAccepts;  // false: after `count` cues
    std::int32_t count;
};

struct VcControllerConfig {
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::uint16_t versionNumber;
    std::uint16_t featureReportLength;    // including the report-ID byte
    bool acceptsReportId[3];              // 0x55, 0x01, 0x00 in that order
    std::int32_t valueCapCount;           // 0..3 input value capabilities
    std::int32_t logicalMax[kVcMaxValueCaps];
    VcPanelModel panel;
    std::uint32_t seed;                   // noise and garbage generator seed
    std::string storePath;                // persistent store file; empty: memory only
    VcFaults faults;
    std::vector<VcLateFault> lateFaults;  // in file order
    // Canned report: when set, the report holds these bytes after the report
    // ID (under every ID) from the start until the first command.
    bool hasCannedReport;
    std::vector<std::uint8_t> cannedReport;
    // The report descriptor a Linux device presents (vc_descriptor.h): the
    // feature report IDs its collection declares (none: no report IDs, one
    // feature report of featureReportLength), those of a second top-level
    // collection, the size of the logical maxima's items (0: the shortest
    // signed one) and a size to pad the descriptor to (0: none).
    std::vector<VcFeatureReport> declaredReports;
    std::vector<VcFeatureReport> secondCollection;
    std::uint8_t logicalMaxBytes;
    std::uint16_t descriptorSize;
    VcLayout layout;
    // The product name a Linux device gives (HIDIOCGRAWNAME); empty: its
    // default name.
    std::string name;
};

VcControllerConfig VcDefaultControllerConfig();

// A HID device that is not a controller of ours (for example Wine's own
// virtual mouse and keyboard, vendor ID 0x845E).
// Like the system's own keyboards and mice on a real machine, one may refuse
// the program's open, or have attributes that cannot be read.
struct VcOtherDevice {
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool refusesOpen;   // its DevicePath cannot be opened
    bool noAttributes;  // HidD_GetAttributes fails on it
};

// One entry of the enumeration order: a controller or another device.
struct VcDeviceEntry {
    bool isController;
    int index;  // into VcConfig::controllers or VcConfig::others
};

struct VcConfig {
    std::vector<VcControllerConfig> controllers;
    std::vector<VcOtherDevice> others;
    std::vector<VcDeviceEntry> devices;  // enumeration order, as in the file
    std::string logPath;                 // transfer log file; empty: memory only
};

// Parses config text. On failure returns false and sets `error` to
// "line N: ..." naming the bad line; `config` is then unspecified.
bool VcParseConfig(const std::string& text, VcConfig* config, std::string* error);

// Reads and parses a config file; the error names the file on failure.
bool VcLoadConfigFile(const std::string& path, VcConfig* config, std::string* error);

// HID facts of enumeration entry `deviceIndex` (0 .. VcDeviceCount - 1).
struct VcDeviceInfo {
    bool isController;
    int controllerIndex;  // -1 for other devices
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::uint16_t versionNumber;
    std::uint16_t featureReportLength;  // 0 for other devices
    bool attributesReadable;            // false: HidD_GetAttributes fails
    std::int32_t valueCapCount;
    // As the HID class reads them: with logical-max-bytes, the configured
    // value's low bytes signed by that size.
    std::int32_t logicalMax[kVcMaxValueCaps];
    // The report descriptor's shape (VcControllerConfig), lengths resolved.
    std::int32_t declaredCount;
    VcFeatureReport declared[kVcMaxDeclaredReports];
    std::int32_t secondCount;
    VcFeatureReport second[kVcMaxDeclaredReports];
    std::uint8_t logicalMaxBytes;
    std::uint16_t descriptorSize;
    VcLayout layout;
};

// One top-level collection of a device as the HID class presents it (on
// Windows an interface of its own, "&Col01", "&Col02", ... when there are
// several). A controller's collections, in descriptor order: the input
// collection first (touch screen or vendor, by its layout), holding the
// input report (tip switch and values); the feature reports of the
// protocol (`declared`, or without declared IDs report 0 of
// featureReportLength) in the vendor collection; then, with `second`, a
// further vendor collection holding those. Other devices: one mouse
// collection.
struct VcCollection {
    std::uint16_t usagePage;  // 0x0D digitizer, 0xFF00 vendor defined, 0x01 generic desktop
    std::uint16_t usage;      // 0x04 touch screen, 0x01 / 0x02 vendor, 0x02 mouse
    // A controller's touch screen collection: the system opens it for
    // itself and refuses a program's open asking for read or write access.
    bool systemOpened;
    bool input;                  // holds the input report
    std::int32_t valueCapCount;  // its input values (VcDeviceInfo's), 0 without the input report
    bool reportIds;              // the device declares report IDs
    std::int32_t reportCount;    // feature reports; without IDs at most one, report 0
    VcFeatureReport reports[kVcMaxDeclaredReports];
    std::uint16_t featureReportLength;  // the longest, report-ID byte included; 0: none
};

// The collections of a device, at most kVcMaxCollections; returns how many.
int VcDeviceCollections(const VcDeviceInfo& info, VcCollection* collections);

// What a transfer did.
enum class VcResult {
    kOk,         // done
    kRefused,    // the report ID is not one the controller accepts
    kBadLength,  // the buffer length is not the feature report length
    kGone,       // the device is gone
};

const char* VcResultName(VcResult result);

enum class VcReportMode {
    kEmpty,   // only zeros after the report ID
    kReply,   // the reply to the last command
    kPackets, // touch packets (after the target cue)
    kCanned,  // canned bytes (config `report-bytes` or VcSetCannedReport)
};

struct VcControllerState {
    VcControllerConfig config;
    VcCoefficients active;
    VcCoefficients committed;
    VcCoefficients staged;  // taken by CS, written by WC
    bool stagedValid;
    VcReportMode mode;
    std::uint8_t reply[16];  // reply bytes after the report ID (0x01 first)
    int replyLength;
    std::int32_t rejectRemaining;
    std::int64_t transfers;  // every SetFeature and GetFeature that reached it
    bool gone;
    std::uint64_t random;    // generator state
    std::int64_t setCount;   // SetFeature calls, any outcome
    std::int64_t getCount;   // GetFeature calls, any outcome
    std::int64_t commits;    // completed CS+WC commits
    std::int32_t cues;       // target cues seen
    std::int32_t accepts;    // commands accepted
    std::vector<std::uint8_t> canned;  // report bytes after the ID in kCanned mode
};

enum class VcLogKind {
    kSet,    // SetFeature
    kGet,    // GetFeature
    kEvent,  // what the firmware did with a command
};

struct VcLogEntry {
    std::int64_t sequence;
    int controller;
    VcLogKind kind;
    std::uint8_t reportId;
    VcResult result;
    std::uint32_t length;             // buffer length of the transfer
    std::vector<std::uint8_t> bytes;  // the whole report, as sent or returned
    std::string text;                 // events: e.g. "Cx accept 1 0 0 1"
};

// The current touch: a screen position and the screen size, in pixels.
struct VcTouch {
    std::int32_t x;
    std::int32_t y;
    std::int32_t screenWidth;
    std::int32_t screenHeight;
    bool touching;
};

struct VcSystem {
    VcConfig config;
    std::vector<VcControllerState> controllers;
    std::vector<VcLogEntry> log;
    std::int64_t nextSequence;
    // Transfers are the requests a device sees (the hidraw interposer,
    // vc-uhid, and the replacement hid.dll after its own checks), checked
    // against its report descriptor as a device's HID stack does: without
    // report IDs only report 0, with them only the declared IDs, each at its
    // own length. Otherwise (the native adapter's tests) any of the three
    // IDs at featureReportLength, as `report-ids` allows.
    bool wireRequests = false;
};

// Creates all devices of `config` afresh (committed coefficients loaded from
// each controller's store file when it exists) and clears the log.
void VcReset(VcSystem* system, const VcConfig& config);

// Resets controller `controller` to a new config (keeps the log).
void VcResetController(VcSystem* system, int controller, const VcControllerConfig& config);

int VcDeviceCount(const VcSystem& system);
bool VcGetDeviceInfo(const VcSystem& system, int deviceIndex, VcDeviceInfo* info);
// The same from a config alone (the devices as configured, before any run).
bool VcConfigDeviceInfo(const VcConfig& config, int deviceIndex, VcDeviceInfo* info);

// A SetFeature of one whole report: report ID in byte 0, `length` bytes.
VcResult VcSetFeature(VcSystem* system, int controller, const std::uint8_t* report,
                      std::uint32_t length);

// A GetFeature: the caller puts the requested report ID in byte 0; on kOk the
// model fills all `length` bytes of `report`. Touch packets carry the panel
// position of `touch`.
VcResult VcGetFeature(VcSystem* system, int controller, std::uint8_t* report,
                      std::uint32_t length, const VcTouch& touch);

// The length a transfer under `reportId` must have on the wire
// (wireRequests): its declared length, 0 when the descriptor declares no
// such report.
std::uint32_t VcWireReportLength(const VcControllerConfig& config, std::uint8_t reportId);

// How long every transfer of this controller should take (fault "slow").
std::uint32_t VcTransferDelayMs(const VcSystem& system, int controller);

// Marks the controller gone (every later transfer fails with kGone) or back.
void VcSetGone(VcSystem* system, int controller, bool gone);

// Makes the report hold `bytes` after the report ID (under every ID) until
// the next command: lets tests present exact report contents.
void VcSetCannedReport(VcSystem* system, int controller, const std::vector<std::uint8_t>& bytes);

// Raw panel position of a screen point, without noise.
void VcPanelRaw(const VcPanelModel& panel, const VcTouch& touch, std::uint16_t* rawX,
                std::uint16_t* rawY);

// The firmware's mapping of a raw position through coefficients, 64-bit. A
// divisor of 0 (never accepted) yields the offset.
std::int64_t VcApplyAxis(const VcAxisCoefficients& axis, std::uint16_t rawX, std::uint16_t rawY);

// Where a touch at a screen point lands with the controller's active
// coefficients: device units, and the screen pixel that the device units
// stand for (device * screen size / logical maximum of that axis, 0x7FFF when
// the controller has no positive maximum for it).
struct VcLanding {
    std::uint16_t rawX;
    std::uint16_t rawY;
    std::int64_t deviceX;
    std::int64_t deviceY;
    double screenX;
    double screenY;
};
bool VcWhereTouchLands(const VcSystem& system, int controller, const VcTouch& touch,
                       VcLanding* landing);

// One log entry as a line of the log file (no trailing newline).
std::string VcFormatLogEntry(const VcLogEntry& entry);

// Coefficient store file text and its parser.
std::string VcFormatStore(const VcCoefficients& coefficients);
bool VcParseStore(const std::string& text, VcCoefficients* coefficients);

#endif  // KELCALIB_TOOLS_VIRTUAL_CONTROLLER_H
