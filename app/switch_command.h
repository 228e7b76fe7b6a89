// The desktop switch as one pass: argument, keys, appliance check,
// confirmation, "Shell" write, forced log-off, outcome line and pause.
#pragma once

// Runs the whole switch for a command line as wmain receives it and returns
// the process exit code: 0 when switched or cancelled, -1 for every failure.
int RunSwitchCommand(int argc, const wchar_t* const argv[]);
