// Least-squares fit of the controller's affine calibration from four raw
// touches, in exact 96-bit integer arithmetic.
#ifndef KELCALIB_CALIB_CALIBRATION_SOLVE_H
#define KELCALIB_CALIB_CALIBRATION_SOLVE_H

#include <cstdint>

// From gSession.rawPoints, logicalMaxX and displayOrientation: fills
// gSession.coefficients and gSession.deviceRecords. Always true.
bool ComputeCalibration();

// Fits gSession.coefficients to n point pairs. Returns the fit check's
// verdict (1 when every point maps within 50 device units, and for n = 0).
int SolveCalibration(std::int32_t n, const std::int32_t* expectedX, const std::int32_t* expectedY,
                     const std::int32_t* rawX, const std::int32_t* rawY);

#endif  // KELCALIB_CALIB_CALIBRATION_SOLVE_H
