// Windows only: the guard value and the failure hook of the stack protector (-fstack-protector-strong), in place of
// GCC's libssp. libssp seeds its guard through CryptoAPI, which loads three more DLLs at every start; RtlGenRandom
// lives in ADVAPI32, which the program loads anyway. Defining the three hooks here keeps libssp out of the link.
#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>

extern "C" {

// The value a protected function's frame is checked against, drawn before any protected function runs.
std::uintptr_t __stack_chk_guard;

// A smashed stack or a fortified call's overrun: end at once, running no handler, with the status Windows uses.
[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}
[[noreturn]] void __chk_fail() { __stack_chk_fail(); }
}

namespace {

// Runs before every other constructor (101 is the first priority there is), so no protected function is active
// when the guard changes.
[[gnu::constructor(101)]] void SeedStackGuard() { RtlGenRandom(&__stack_chk_guard, sizeof __stack_chk_guard); }

}  // namespace
