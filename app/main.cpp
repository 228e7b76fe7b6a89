#include "switch_command.h"

int wmain(int argc, wchar_t* argv[]) { return RunSwitchCommand(argc, argv); }
