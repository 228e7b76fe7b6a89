// The host stand-in behind <windows.h> and system("pause"). It keeps to the
// documented Windows contracts the system relies on, so that a fault the real
// platform would expose (wrong view, missing access, short buffer, double
// close) also shows up here.
#include "host_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <iostream>
#include <map>
#include <sstream>
#include <utility>

namespace host {
namespace {

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

struct OpenKey {
    std::wstring path;
    REGSAM access = 0;
    bool open = true;
};

struct State {
    std::map<std::wstring, std::map<std::wstring, std::pair<std::wstring, StoredValue>>> keys;
    std::map<HKEY, OpenKey> handles;
    ULONG_PTR nextHandle = 0x1000;
    std::map<std::wstring, LSTATUS> openFaults;
    std::map<std::wstring, LSTATUS> readFaults;
    std::map<std::wstring, LSTATUS> writeFaults;
    bool writeAccessDenied = false;
    bool logOffRefused = false;
    std::vector<Event> journal;
};

State& state() {
    static State instance;
    return instance;
}

void Record(Event event) { state().journal.push_back(std::move(event)); }

// What the console shows and what standard input still holds.
class Console : public std::wstreambuf {
public:
    void Reset() {
        shown.clear(), pending.clear(), answers.clear();
        refuseFlush = false;
        setg(nullptr, nullptr, nullptr);
        std::wcout.clear(), std::wcin.clear();
    }

    std::wstring shown, pending, current;
    std::vector<std::wstring> answers;
    bool refuseFlush = false;

protected:
    int_type overflow(int_type ch) override {
        pending += traits_type::to_char_type(ch);
        return ch;
    }
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override {
        pending.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int sync() override {
        const bool refused = std::exchange(refuseFlush, false);
        shown += refused ? L"" : pending;
        pending.clear();
        return refused ? -1 : 0;
    }
    int_type underflow() override {
        if (answers.empty()) return traits_type::eof();
        current = answers.front() + L"\n";
        answers.erase(answers.begin());
        shown += L"> " + current;
        Record({Call::Read, current, L"", nullptr, 0, ERROR_SUCCESS});
        setg(current.data(), current.data(), current.data() + current.size());
        return traits_type::to_int_type(current[0]);
    }
};

// Behind the standard streams from before main on, and never destroyed: the
// runtime flushes std::wcout after the last static destructor.
Console& console() {
    static Console& instance = *new Console;
    return instance;
}
const struct ConsoleStreams {
    ConsoleStreams() {
        std::wcout.rdbuf(&console());
        std::wcin.rdbuf(&console());
    }
} installed;

std::wstring Fold(const std::wstring& text) {
    std::wstring folded(text);
    for (auto& ch : folded) ch = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(ch)));
    return folded;
}

// A 32-bit process sees SOFTWARE through WOW6432Node unless it asks for the 64-bit view.
std::wstring ViewPath(const std::wstring& path, REGSAM access) {
    if ((access & KEY_WOW64_64KEY) != 0) return path;
    const std::wstring software = L"software";
    const std::wstring redirected = L"software\\wow6432node";
    const std::wstring folded = Fold(path);
    if (folded.compare(0, software.size(), software) != 0) return path;
    if (folded.size() > software.size() && folded[software.size()] != L'\\') return path;
    if (folded.compare(0, redirected.size(), redirected) == 0) return path;
    return path.substr(0, software.size()) + L"\\WOW6432Node" + path.substr(software.size());
}

std::wstring Join(const std::wstring& base, const wchar_t* sub) {
    if (sub == nullptr || *sub == L'\0') return base;
    return base.empty() ? std::wstring(sub) : base + L'\\' + sub;
}

// The key a handle stands for, or nullptr for an unknown or closed handle.
const OpenKey* Lookup(HKEY key) {
    static const OpenKey root{L"", KEY_READ | KEY_WRITE, true};
    if (key == HKEY_LOCAL_MACHINE) return &root;
    const auto found = state().handles.find(key);
    return found != state().handles.end() && found->second.open ? &found->second : nullptr;
}

std::optional<LSTATUS> Fault(const std::map<std::wstring, LSTATUS>& faults, const std::wstring& key) {
    const auto found = faults.find(Fold(key));
    if (found == faults.end()) return std::nullopt;
    return found->second;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// RRF_RT_* bit that admits a stored type; REG_EXPAND_SZ counts as REG_SZ unless
// RRF_NOEXPAND is given, because Windows then expands it and returns REG_SZ.
DWORD AdmittingFlag(DWORD type, DWORD flags) {
    switch (type) {
        case REG_NONE: return RRF_RT_REG_NONE;
        case REG_SZ: return RRF_RT_REG_SZ;
        case REG_EXPAND_SZ: return (flags & RRF_NOEXPAND) != 0 ? RRF_RT_REG_EXPAND_SZ : RRF_RT_REG_SZ;
        case REG_BINARY: return RRF_RT_REG_BINARY;
        case REG_DWORD: return RRF_RT_REG_DWORD;
        case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
        case REG_QWORD: return RRF_RT_REG_QWORD;
        default: return 0;
    }
}

// Host code units plus the terminator, as the registry editor stores a string.
std::vector<BYTE> StringBytes(const std::wstring& text) {
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t));
}

// The value as stored, without any of RegGetValueW's rules.
std::optional<StoredValue> GetValue(const std::wstring& path, const std::wstring& name) {
    const auto keyFound = state().keys.find(Fold(path));
    if (keyFound == state().keys.end()) return std::nullopt;
    const auto valueFound = keyFound->second.find(Fold(name));
    if (valueFound == keyFound->second.end()) return std::nullopt;
    return valueFound->second.second;
}

void PutValue(const std::wstring& path, const std::wstring& name, const StoredValue& value) {
    state().keys[Fold(path)][Fold(name)] = {name, value};
}

LSTATUS GetValueImpl(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data, LPDWORD dataBytes,
                     std::wstring& path) {
    const OpenKey* handle = Lookup(key);
    if (handle == nullptr) return ERROR_INVALID_HANDLE;
    path = Join(handle->path, subKey);
    if ((handle->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if ((flags & RRF_RT_ANY) == 0 || (data != nullptr && dataBytes == nullptr)) return ERROR_INVALID_PARAMETER;
    if (const auto fault = Fault(state().readFaults, value == nullptr ? L"" : value)) return *fault;
    const auto keyFound = state().keys.find(Fold(path));
    if (keyFound == state().keys.end()) return ERROR_FILE_NOT_FOUND;
    const auto valueFound = keyFound->second.find(Fold(value == nullptr ? L"" : value));
    if (valueFound == keyFound->second.end()) return ERROR_FILE_NOT_FOUND;
    const StoredValue& stored = valueFound->second.second;
    const DWORD admitted = AdmittingFlag(stored.type, flags);
    if ((admitted & flags) == 0) return ERROR_UNSUPPORTED_TYPE;

    std::vector<BYTE> bytes = stored.bytes;
    if (IsStringType(stored.type)) {
        // Windows hands strings back whole-unit and terminated, even when stored otherwise.
        while (bytes.size() % sizeof(wchar_t) != 0) bytes.push_back(0);
        const bool terminated = bytes.size() >= sizeof(wchar_t) &&
                                std::all_of(bytes.end() - sizeof(wchar_t), bytes.end(), [](BYTE b) { return b == 0; });
        if (!terminated) bytes.insert(bytes.end(), sizeof(wchar_t), 0);
    }
    if (type != nullptr) *type = admitted == RRF_RT_REG_SZ ? REG_SZ : stored.type;
    const auto required = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        if (dataBytes != nullptr) *dataBytes = required;
        return ERROR_SUCCESS;
    }
    if (*dataBytes < required) {
        // The buffer's contents are undefined after ERROR_MORE_DATA; make any use of them show.
        std::memset(data, '#', *dataBytes);
        *dataBytes = required;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *dataBytes = required;
    return ERROR_SUCCESS;
}

}  // namespace

void Reset() {
    state() = State{};
    console().Reset();
}

void CreateKey(const std::wstring& path) { state().keys[Fold(path)]; }
void DeleteKey(const std::wstring& path) { state().keys.erase(Fold(path)); }

void PutString(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
    PutValue(path, name, StoredValue{REG_SZ, StringBytes(text)});
}

std::optional<std::wstring> GetString(const std::wstring& path, const std::wstring& name) {
    const auto value = GetValue(path, name);
    if (!value || value->type != REG_SZ || value->bytes.size() % sizeof(wchar_t) != 0) return std::nullopt;
    std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value->bytes.data(), value->bytes.size());
    if (text.empty() || text.back() != L'\0') return std::nullopt;  // the writer left out the terminator
    text.pop_back();
    return text;
}

void FailOpen(const std::wstring& path, LSTATUS status) { state().openFaults[Fold(path)] = status; }
void DenyWriteAccess() { state().writeAccessDenied = true; }
void FailRead(const std::wstring& valueName, LSTATUS status) { state().readFaults[Fold(valueName)] = status; }
void FailWrite(const std::wstring& valueName, LSTATUS status) { state().writeFaults[Fold(valueName)] = status; }
void RefuseLogOff() { state().logOffRefused = true; }
void RefuseNextFlush() { console().refuseFlush = true; }
void TypeAnswers(const std::vector<std::wstring>& lines) { console().answers = lines; }

std::vector<std::wstring> Screen() {
    std::vector<std::wstring> lines;
    std::wistringstream shown(console().shown);
    for (std::wstring line; std::getline(shown, line);) lines.push_back(line);
    return lines;
}

const std::vector<Event>& Journal() { return state().journal; }

std::vector<Event> CallsOf(Call call) {
    std::vector<Event> calls;
    for (const auto& event : state().journal)
        if (event.call == call) calls.push_back(event);
    return calls;
}

std::vector<std::wstring> OpenKeyPaths() {
    std::vector<std::wstring> paths;
    for (const auto& [handle, key] : state().handles)
        if (key.open) paths.push_back(key.path);
    return paths;
}

}  // namespace host

using host::Call;

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    auto& s = host::state();
    const auto finish = [&](const std::wstring& path, HKEY handle, LSTATUS status) {
        host::Record({Call::Open, path, L"", handle, desired, status});
        return status;
    };
    if (result == nullptr) return finish(L"", nullptr, ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (key != HKEY_LOCAL_MACHINE || options != 0 || subKey == nullptr) {
        return finish(subKey == nullptr ? L"" : subKey, nullptr, ERROR_INVALID_PARAMETER);
    }
    if ((desired & KEY_WOW64_64KEY) != 0 && (desired & KEY_WOW64_32KEY) != 0) {
        return finish(subKey, nullptr, ERROR_INVALID_PARAMETER);
    }
    const std::wstring path = host::ViewPath(subKey, desired);
    if (const auto fault = host::Fault(s.openFaults, path)) return finish(path, nullptr, *fault);
    if (s.writeAccessDenied && (desired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0) {
        return finish(path, nullptr, ERROR_ACCESS_DENIED);
    }
    if (s.keys.find(host::Fold(path)) == s.keys.end()) return finish(path, nullptr, ERROR_FILE_NOT_FOUND);
    const auto handle = reinterpret_cast<HKEY>(s.nextHandle);
    s.nextHandle += 0x10;
    s.handles[handle] = host::OpenKey{path, desired, true};
    *result = handle;
    return finish(path, handle, ERROR_SUCCESS);
}

LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                            LPDWORD dataBytes) {
    std::wstring path;
    const LSTATUS status = host::GetValueImpl(key, subKey, value, flags, type, data, dataBytes, path);
    host::Record({Call::Get, path, value == nullptr ? L"" : value, key, flags, status});
    return status;
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR value, DWORD reserved, DWORD type, const BYTE* data, DWORD dataBytes) {
    const host::OpenKey* handle = host::Lookup(key);
    const std::wstring name = value == nullptr ? L"" : value;
    const auto finish = [&](LSTATUS status) {
        host::Record({Call::Set, handle == nullptr ? L"" : handle->path, name, key, type, status});
        return status;
    };
    if (handle == nullptr) return finish(ERROR_INVALID_HANDLE);
    if ((handle->access & KEY_SET_VALUE) == 0) return finish(ERROR_ACCESS_DENIED);
    if (reserved != 0 || (data == nullptr && dataBytes != 0)) return finish(ERROR_INVALID_PARAMETER);
    if (const auto fault = host::Fault(host::state().writeFaults, name)) return finish(*fault);
    host::PutValue(handle->path, name, host::StoredValue{type, std::vector<BYTE>(data, data + dataBytes)});
    return finish(ERROR_SUCCESS);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    auto& handles = host::state().handles;
    const auto found = handles.find(key);
    if (found == handles.end() || !found->second.open) {
        host::Record({Call::Close, L"", L"", key, 0, ERROR_INVALID_HANDLE});
        return ERROR_INVALID_HANDLE;
    }
    found->second.open = false;
    host::Record({Call::Close, found->second.path, L"", key, 0, ERROR_SUCCESS});
    return ERROR_SUCCESS;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    const bool refused = host::state().logOffRefused;
    host::Record({Call::LogOff, L"", L"", nullptr, flags, static_cast<LSTATUS>(reason)});
    return refused ? FALSE : TRUE;
}

// Takes the place of the C library's system() in the host build: the command
// is recorded instead of run, and "pause" shows on the console.
extern "C" int system(const char* command) {
    if (command == nullptr) return 1;
    const std::string narrow(command);
    host::Record({Call::Command, std::wstring(narrow.begin(), narrow.end()), L"", nullptr, 0, ERROR_SUCCESS});
    if (narrow == "pause") host::console().shown += L"<pause>\n";
    return 0;
}
