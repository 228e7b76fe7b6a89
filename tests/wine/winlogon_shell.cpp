// Prints the Winlogon value "Shell" as stored, a line for each registry view, 64-bit then 32-bit: its size in
// bytes, terminator included (reg and regedit show the text alone), then its text in UTF-8. A missing one is 0.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    for (const REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}}) {
        HKEY key = nullptr;
        std::wstring text(4096, L'\0');
        auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0,
                      KEY_READ | view, &key);
        if (RegQueryValueExW(key, L"Shell", nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &bytes)) bytes = 0;
        text.resize(text.find(L'\0'));
        const int units = static_cast<int>(text.size());
        std::string utf8(static_cast<std::size_t>(units) * 3, '\0');
        utf8.resize(static_cast<std::size_t>(
            WideCharToMultiByte(CP_UTF8, 0, text.data(), units, utf8.data(), units * 3, nullptr, nullptr)));
        std::printf("%lu %s\n", bytes, utf8.c_str());
        RegCloseKey(key);
    }
    return 0;
}
