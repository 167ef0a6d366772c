// kelcalib-ctl: the support tool's four commands over the controller link.
#ifndef KELCALIB_CTL_CTL_COMMANDS_H
#define KELCALIB_CTL_CTL_COMMANDS_H

// Runs the command line (arguments in UTF-8) and returns the exit status.
int RunCtl(int argc, const char* const* argv);

#endif  // KELCALIB_CTL_CTL_COMMANDS_H
