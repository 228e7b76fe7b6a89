// Prints the Winlogon value "Shell" of the 64-bit, then the 32-bit registry view: its size in bytes, terminator
// included (reg and regedit show the text alone), and its text in UTF-8. A missing value is 0 bytes. Always built as
// a 64-bit program: it names both views, and starts on Wine's native loader on every route.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

int wmain() {
    for (const REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}}) {
        HKEY key = nullptr;
        wchar_t text[4096] = {};
        char utf8[3 * 4096] = {};
        DWORD bytes = sizeof text - sizeof *text;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0,
                      KEY_READ | view, &key);
        if (RegQueryValueExW(key, L"Shell", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes)) bytes = 0;
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        std::printf("%lu %s\n", bytes, utf8);
        RegCloseKey(key);
    }
    return 0;
}
