// doctor's checks of the system's files: udev's rules and database, X's
// configuration and tslib's calibration file, each read through
// SystemPath (device/hidraw_sysfs_linux.h).
#ifndef KELCALIB_CTL_CTL_DOCTOR_FILES_LINUX_H
#define KELCALIB_CTL_CTL_DOCTOR_FILES_LINUX_H

#include <cstdint>

#include "ctl/ctl_doctor.h"
#include "device/hidraw_sysfs_linux.h"

// A udev rule that gives the user at the seat (or a group) the vendor's
// hidraw nodes; its absence is a problem even for root, who opens them
// anyway.
void CheckUdevRule(std::uint16_t vendorId, DoctorSection* section);

// A libinput calibration matrix that udev gives one of the event devices
// (its database), or that a rule or hwdb entry naming the vendor sets.
void CheckUdevCalibration(std::uint16_t vendorId, const EventDevices& events,
                          DoctorSection* section);

// Calibration options in X's configuration files and tslib's calibration
// file (corrections applied on top of the firmware's), and a kelcalib file
// of the earlier layout (one per vendor and product).
void CheckSystemCorrections(DoctorSection* system);

#endif  // KELCALIB_CTL_CTL_DOCTOR_FILES_LINUX_H
