// Starts a program on a console left without processed, line and echo input, as a careless parent may leave it;
// says which of them its first read had (on standard error), then if it put the mode back. Usage: raw_console EXE ARG
#include <windows.h>

#include <process.h>

#include <cstdio>
#include <string>

int wmain(int, wchar_t* argv[]) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0, reading = 0;
    GetConsoleMode(input, &mode);
    mode &= ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    SetConsoleMode(input, mode);
    // The runtime joins the arguments with spaces as they stand, and the program's path may hold spaces.
    const std::wstring program = L'"' + std::wstring(argv[1]) + L'"';
    const wchar_t* const arguments[] = {program.c_str(), argv[2], nullptr};
    const intptr_t child = _wspawnv(_P_NOWAIT, argv[1], arguments);
    // The mode belongs to the console, so it shows here while the program reads; the test answers after this.
    for (reading = mode; reading == mode && WaitForSingleObject(reinterpret_cast<HANDLE>(child), 10) == WAIT_TIMEOUT;)
        GetConsoleMode(input, &reading);
    std::fprintf(stderr, "read with%s%s%s\n", reading & ENABLE_PROCESSED_INPUT ? " processed" : "",
                 reading & ENABLE_LINE_INPUT ? " line" : "", reading & ENABLE_ECHO_INPUT ? " echo" : "");
    int code = 0;
    _cwait(&code, child, 0);
    GetConsoleMode(input, &reading);
    std::printf("mode %s\n", reading == mode ? "kept" : "changed");
    return code;
}
