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

// Device positions at which the controller should report targets 0..3
// (upper left, lower right, upper right, lower left) for a logical maximum
// (taken as unsigned 32-bit) and a display orientation (0..3; any other value
// counts as 0).
void ExpectedTargetPositions(std::uint32_t logicalMax, std::int32_t orientation,
                             std::int32_t expectedX[4], std::int32_t expectedY[4]);

// Where gSession.coefficients put raw (x, y), in quarter device units, with
// truncating divisions and negative results raised to 0; (x, y) unchanged
// while the coefficients are not valid. Computed in 64-bit arithmetic, which
// cannot wrap for coefficients as the solve leaves them.
void MapRawPoint(std::int32_t x, std::int32_t y, std::int64_t* deviceX4, std::int64_t* deviceY4);

// 1 when every raw point maps (through MapRawPoint, then truncated to whole
// device units) less than 50 device units from its expected position, and for
// n <= 0; else 0.
int CheckCalibrationFit(std::int32_t n, const std::int32_t* expectedX,
                        const std::int32_t* expectedY, const std::int32_t* rawX,
                        const std::int32_t* rawY);

// True when SolveCalibration on these points keeps every intermediate value
// below 2^96, so its result is exact: the bit lengths of the three matrix
// entries of each determinant term add up to at most 92. Four raw points of
// 16 bits with expected positions below 2^22 in magnitude always pass.
bool CalibrationSolveIsExact(std::int32_t n, const std::int32_t* expectedX,
                             const std::int32_t* expectedY, const std::int32_t* rawX,
                             const std::int32_t* rawY);

#endif  // KELCALIB_CALIB_CALIBRATION_SOLVE_H
