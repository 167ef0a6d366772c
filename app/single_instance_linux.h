// One copy of the calibration per user at a time.
#ifndef KELCALIB_APP_SINGLE_INSTANCE_LINUX_H
#define KELCALIB_APP_SINGLE_INSTANCE_LINUX_H

enum class LockResult { kTaken, kHeldElsewhere, kFailed };

// Takes the lock for the rest of the process; on kFailed `error` says why.
LockResult TakeSingleInstanceLock(char* error, int capacity);

#endif  // KELCALIB_APP_SINGLE_INSTANCE_LINUX_H
