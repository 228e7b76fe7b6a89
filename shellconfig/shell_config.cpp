#include "shell_config.h"

#include "console_dialogue.h"

#include <array>
#include <sstream>

namespace {

// A detail line, composed from its parts in a wide string stream.
template <typename... Parts>
void WriteDetail(const Parts&... parts) {
    std::wostringstream line;
    (line << ... << parts);
    WriteLine(line.str());
}

}  // namespace

RegKeyOwner::~RegKeyOwner() {
    if (key_ != nullptr) RegCloseKey(key_);  // nothing useful to do if the close fails
}

std::wstring ReadStringValue(HKEY key, const std::wstring& subKey, const std::wstring& valueName) {
    if (key == nullptr) return {};
    // The size handed to the platform leaves the last code unit out, so the
    // text is always terminated inside the buffer whatever the platform does.
    constexpr std::size_t kBufferUnits = 2048;
    constexpr auto kReadBytes = static_cast<DWORD>((kBufferUnits - 1) * sizeof(wchar_t));
    std::array<wchar_t, kBufferUnits> buffer{};
    DWORD size = kReadBytes;
    const LSTATUS status =
        RegGetValueW(key, subKey.c_str(), valueName.c_str(), RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
    if (status != ERROR_SUCCESS) {
        WriteDetail(L"Failed to get value. Subkey: ", subKey, L", value: ", valueName, L'.');
        return {};
    }
    return std::wstring(buffer.data());
}

bool WriteStringValue(HKEY key, const std::wstring& valueName, const std::wstring& data) {
    if (key == nullptr) return false;
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));  // with the terminator
    const LSTATUS status =
        RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
    if (status != ERROR_SUCCESS) {
        WriteDetail(L"Failed to set value. Value name: ", valueName, L", value: ", data, L'.');
        return false;
    }
    return true;
}

bool IsNvrAppliance(HKEY softwareKey) { return ReadStringValue(softwareKey, L"", L"NVR") == L"1"; }

std::wstring ResolveNvrShellPath(HKEY softwareKey) {
    const std::wstring installPath = ReadStringValue(softwareKey, L"", L"INSTALL_PATH");
    if (installPath.empty()) return {};
    return installPath + L"\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe";
}

bool SetWinlogonShell(HKEY winlogonKey, HKEY softwareKey, DesktopTarget target) {
    if (winlogonKey == nullptr) return false;
    std::wstring shell;
    switch (target) {
        case DesktopTarget::WindowsDesktop: shell = L"explorer.exe"; break;
        case DesktopTarget::NvrDesktop: shell = ResolveNvrShellPath(softwareKey); break;
        default: return false;
    }
    if (shell.empty()) return false;  // the read already said why, or INSTALL_PATH is empty
    if (shell.find(L',') != std::wstring::npos) {
        WriteDetail(L"The shell path contains a comma, which Winlogon may read as a list of programs: ", shell, L'.');
        return false;
    }
    return WriteStringValue(winlogonKey, L"Shell", shell);
}
