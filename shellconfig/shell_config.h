// Registry side of the desktop switch: the owner of an open key, string value
// reads and writes (each reporting its own failure as one detail line), the
// appliance check and the Winlogon "Shell" value for each desktop. Keys are
// opened, and their failures reported, by the caller. A null handle reads and
// writes nothing and writes no line: no run of the program passes one.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

// The desktop to switch to; any other value selects nothing.
enum class DesktopTarget { WindowsDesktop = 1, NvrDesktop = 2 };

// Sole owner of one open registry key; closes it exactly once. Null is empty.
class RegKeyOwner {
public:
    RegKeyOwner() noexcept = default;
    explicit RegKeyOwner(HKEY key) noexcept : key_(key) {}
    ~RegKeyOwner();

    RegKeyOwner(const RegKeyOwner&) = delete;
    RegKeyOwner(RegKeyOwner&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    // Takes the other's key and closes its own through the parameter; safe on self-move.
    RegKeyOwner& operator=(RegKeyOwner other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }

    HKEY get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

// The REG_SZ value, or empty when it cannot be read (after a detail line).
std::wstring ReadStringValue(HKEY key, const std::wstring& subKey, const std::wstring& valueName);

// Writes a REG_SZ value; false (after a detail line) when the platform refuses.
bool WriteStringValue(HKEY key, const std::wstring& valueName, const std::wstring& data);

// True when the software key marks this machine as an appliance ("NVR" is "1").
bool IsNvrAppliance(HKEY softwareKey);

// Full path of the appliance shell program below "INSTALL_PATH", or empty.
std::wstring ResolveNvrShellPath(HKEY softwareKey);

// Writes "Shell" for the target; reads the software key only for the NVR
// desktop. A shell holding a comma is refused with a detail line: Winlogon
// would read it as a list of programs and start none of the appliance's.
bool SetWinlogonShell(HKEY winlogonKey, HKEY softwareKey, DesktopTarget target);
