// The benchmark's floor: a program that does nothing, linked as DesktopSwitch.exe is (static runtimes and the same
// four system DLLs), so that a run is measured against the bare cost of starting such a program.
#include <windows.h>

int wmain(int argc, wchar_t*[]) {
    // Never true: the calls only keep ADVAPI32 and USER32 among the imports.
    if (argc > 1000) return static_cast<int>(RegCloseKey(nullptr)) + ExitWindowsEx(0, 0);
    return 0;
}
