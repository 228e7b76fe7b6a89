#include "console_streams.h"
#include "switch_command.h"

int wmain(int argc, wchar_t* argv[]) {
    // First, so that every line reaches the console whole: the C runtime's own conversion loses characters.
    InstallConsoleStreams();
    return RunSwitchCommand(argc, argv);
}
