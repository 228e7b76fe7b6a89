// Starts a program on a console left without line input and echo, as a careless parent may leave it, then says
// whether the program put that mode back. Usage: raw_console PROGRAM ARGUMENT
#include <windows.h>

#include <process.h>

#include <cstdio>

int wmain(int, wchar_t* argv[]) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0, after = 0;
    GetConsoleMode(input, &mode);
    mode &= ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    SetConsoleMode(input, mode);
    const auto code = _wspawnv(_P_WAIT, argv[1], argv + 1);
    GetConsoleMode(input, &after);
    std::printf("mode %s\n", after == mode ? "kept" : "changed");
    return static_cast<int>(code);
}
