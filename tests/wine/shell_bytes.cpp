// Prints how many bytes the Winlogon value "Shell" holds in the 64-bit view, its terminator included: reg and
// regedit show the text alone.
#include <windows.h>

#include <cstdio>

int wmain() {
    HKEY key = nullptr;
    DWORD bytes = 0;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0,
                  KEY_READ | KEY_WOW64_64KEY, &key);
    RegQueryValueExW(key, L"Shell", nullptr, nullptr, nullptr, &bytes);
    std::printf("%lu\n", bytes);
    return 0;
}
