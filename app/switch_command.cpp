#include "switch_command.h"

#include "console_dialogue.h"
#include "shell_config.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <optional>

namespace {

struct Outcome {
    const wchar_t* line;
    int exitCode;
};

constexpr Outcome kWrongParameters{L"Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).", -1};
constexpr Outcome kWinlogonKeyNotOpened{L"Failed to open WinInfo registry key.", -1};
constexpr Outcome kSoftwareKeyNotOpened{L"Failed to open TARN registry key.", -1};
constexpr Outcome kNotAnAppliance{L"This is not a Telvora NVR.", -1};
constexpr Outcome kNoAnswer{L"No answer was given. The desktop was not switched.", -1};
constexpr Outcome kSwitchFailed{L"Failed to switch desktop.", -1};
constexpr Outcome kLogOffRefused{L"Failed to log off current user. Please manually log off and log on again.", -1};
constexpr Outcome kDone{L"The operation is completed successfully.", 0};
constexpr int kCancelledExitCode = 0;

// Every ending but a cancellation: the line, then the pause, then the exit code.
// A line that could not be written gets no pause: it would hold a console that
// shows nothing, and read a key. Keys are released by their owners after this
// returns.
int Conclude(const Outcome& outcome) {
    if (WriteLine(outcome.line)) PauseConsole();
    return outcome.exitCode;
}

std::optional<DesktopTarget> ParseTarget(int argc, const wchar_t* const argv[]) {
    if (argc != 2 || std::wcslen(argv[1]) != 1) return std::nullopt;
    switch (std::towupper(static_cast<std::wint_t>(argv[1][0]))) {
        case L'S': return DesktopTarget::NvrDesktop;
        case L'W': return DesktopTarget::WindowsDesktop;
        default: return std::nullopt;
    }
}

// Ctrl+C and Ctrl+Break are no answer and never end the run, so every run
// ends with its own line and exit code, and a written "Shell" is followed by
// the log-off request. At the prompt they end the console's read, which is no
// answer; at the pause the command interpreter decides for itself what they
// do. Every other event (closing the console, log-off, shutdown) goes on to
// the default handler, which ends the run.
BOOL WINAPI ClaimInterrupt(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

// An owner of the opened key, empty when the platform failed or handed back no handle.
RegKeyOwner OpenMachineKey(const wchar_t* path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key) != ERROR_SUCCESS) return RegKeyOwner();
    return RegKeyOwner(key);
}

}  // namespace

int RunSwitchCommand(int argc, const wchar_t* const argv[]) {
    SetConsoleCtrlHandler(ClaimInterrupt, TRUE);
    const std::optional<DesktopTarget> target = ParseTarget(argc, argv);
    if (!target) return Conclude(kWrongParameters);

    // Winlogon lives in the 64-bit view, the appliance software (a 32-bit
    // program) records itself in the 32-bit one; this process is 32-bit, so
    // both views are named explicitly. Declared in this order so that the
    // software key is released first.
    const RegKeyOwner winlogonKey = OpenMachineKey(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                                                   KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    if (!winlogonKey) return Conclude(kWinlogonKeyNotOpened);
    const RegKeyOwner softwareKey = OpenMachineKey(L"SOFTWARE\\Telvora, Inc.\\TARN", KEY_READ | KEY_WOW64_32KEY);
    if (!softwareKey) return Conclude(kSoftwareKeyNotOpened);

    if (!IsNvrAppliance(softwareKey.get())) return Conclude(kNotAnAppliance);

    switch (ConfirmSwitch()) {
        case Confirmation::Agreed: break;
        case Confirmation::Declined: return kCancelledExitCode;
        case Confirmation::NoAnswer: return Conclude(kNoAnswer);
    }

    if (!SetWinlogonShell(winlogonKey.get(), softwareKey.get(), *target)) return Conclude(kSwitchFailed);

    // The new shell stays written even if the log-off is refused; it takes
    // effect at the next log-on, which the refusal line asks for.
    if (ExitWindowsEx(EWX_LOGOFF | EWX_FORCE, 0) != TRUE) return Conclude(kLogOffRefused);
    return Conclude(kDone);
}
