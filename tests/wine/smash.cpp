// Shows the stack protector's guard, then overruns a stack buffer as an attack would: the program must end with
// STATUS_STACK_BUFFER_OVERRUN before the overrunning function returns.
#include <cstdint>
#include <cstdio>

extern "C" std::uintptr_t __stack_chk_guard;

[[gnu::noinline]] static char Overrun(int count) {
    volatile char buffer[8];
    for (int i = 0; i < count; ++i) buffer[i] = 'x';
    return buffer[0];
}

int wmain(int argc, wchar_t*[]) {
    std::printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    std::fflush(stdout);
    return Overrun(argc * 64);
}
