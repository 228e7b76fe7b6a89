// Starts a program on a console left without processed, line and echo input, as a careless parent may leave it.
// Says on standard error, not to the console the program reads from, which of the three the console had while the
// program first read; then whether the program put the parent's mode back. Usage: raw_console PROGRAM ARGUMENT
#include <windows.h>

#include <process.h>

#include <cstdio>

int wmain(int, wchar_t* argv[]) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    constexpr DWORD kCleared = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    DWORD mode = 0, reading = 0, after = 0;
    GetConsoleMode(input, &mode);
    mode &= ~kCleared;
    SetConsoleMode(input, mode);
    const auto child = reinterpret_cast<HANDLE>(_wspawnv(_P_NOWAIT, argv[1], argv + 1));
    // The mode belongs to the console, so it shows here while the program reads; the test answers after this.
    for (reading = mode; reading == mode && WaitForSingleObject(child, 10) == WAIT_TIMEOUT;)
        GetConsoleMode(input, &reading);
    std::fprintf(stderr, "read with%s%s%s\n", reading & ENABLE_PROCESSED_INPUT ? " processed" : "",
                 reading & ENABLE_LINE_INPUT ? " line" : "", reading & ENABLE_ECHO_INPUT ? " echo" : "");
    std::fflush(stderr);
    DWORD code = 0;
    WaitForSingleObject(child, INFINITE);
    GetExitCodeProcess(child, &code);
    GetConsoleMode(input, &after);
    std::printf("mode %s\n", after == mode ? "kept" : "changed");
    return static_cast<int>(code);
}
