// Test control of the host stand-in: an in-memory HKEY_LOCAL_MACHINE that
// behaves like a 32-bit process's view of 64-bit Windows (SOFTWARE is
// redirected to SOFTWARE\WOW6432Node unless KEY_WOW64_64KEY is asked for), a
// console behind std::wcout and std::wcin, faults that make single platform
// steps fail, and a journal of every call. Paths are tree paths below
// HKEY_LOCAL_MACHINE, as regedit shows them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace host {

// Registry contents. Names and paths compare case-insensitively, as on Windows.
void Reset();  // empty registry and console, no faults, empty journal
void CreateKey(const std::wstring& path);
void DeleteKey(const std::wstring& path);
// A REG_SZ stored with its terminator, as the registry editor does.
void PutString(const std::wstring& path, const std::wstring& name, const std::wstring& text);
std::optional<std::wstring> GetString(const std::wstring& path, const std::wstring& name);  // a terminated REG_SZ

// Faults, each making one kind of step fail.
void FailOpen(const std::wstring& path, LSTATUS status);  // ERROR_SUCCESS: success with a null handle
void DenyWriteAccess();  // a caller that is not elevated: write access under HKLM is denied
void FailRead(const std::wstring& valueName, LSTATUS status);
void FailWrite(const std::wstring& valueName, LSTATUS status);
void RefuseLogOff();
void RefuseNextFlush();  // the text of the next flush is lost, as on a full device

// The console. Text shows once flushed; the pause shows as "<pause>" and each
// answer, when standard input hands it out, as "> answer".
void TypeAnswers(const std::vector<std::wstring>& lines);  // standard input: these lines, then its end
std::vector<std::wstring> Screen();

// What the system did, in order.
enum class Call { Open, Get, Set, Close, LogOff, Command, Read };
struct Event {
    Call call;
    std::wstring path;  // key's tree path (Open, Get, Set, Close), the command run, or the answer read
    std::wstring name;  // value name (Get, Set)
    HKEY handle = nullptr;
    DWORD detail = 0;                // access (Open), flags (Get, LogOff), type (Set)
    LSTATUS status = ERROR_SUCCESS;  // result handed back; the log-off reason for LogOff
};
const std::vector<Event>& Journal();
std::vector<Event> CallsOf(Call call);
std::vector<std::wstring> OpenKeyPaths();  // keys opened and not yet closed

}  // namespace host
