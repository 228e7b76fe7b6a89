// Windows only: stream buffers behind std::wcout and std::wcin that keep every
// character. The C runtime converts console text through the console code
// page: output stops at the first character the page lacks, and a typed
// look-alike such as a full-width Y reaches the program as a plain Y. So a
// console gets and gives UTF-16 itself (WriteConsoleW, ReadConsoleW), output
// redirected to a file or pipe gets UTF-8, and redirected input is left to the
// runtime.
#include "console_streams.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <streambuf>
#include <string>

namespace {

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != FALSE;
}

// Unpaired surrogates become U+FFFD, so the bytes are always valid UTF-8.
std::string ToUtf8(const std::wstring& text) {
    const int units = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), char{});
    WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Collects text until a flush, then writes it in one call, so a surrogate pair
// is never split.
class ConsoleOutputBuffer : public std::wstreambuf {
public:
    explicit ConsoleOutputBuffer(HANDLE output) : output_(output), console_(IsConsole(output)) {}

protected:
    int_type overflow(int_type ch) override {
        pending_.push_back(traits_type::to_char_type(ch));
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        return count;
    }

    // Line ends become CR LF, as the runtime's text mode writes them. A write
    // the device refuses fails the flush; it is never retried.
    int sync() override {
        std::wstring text;
        for (const wchar_t ch : pending_) {
            if (ch == L'\n') text.push_back(L'\r');
            text.push_back(ch);
        }
        pending_.clear();
        return Write(text) ? 0 : -1;
    }

private:
    // One call: UTF-8 to a file or pipe, UTF-16 to a console.
    bool Write(const std::wstring& text) const {
        DWORD written;
        if (!console_) {
            const std::string bytes = ToUtf8(text);
            return WriteFile(output_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
        return WriteConsoleW(output_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    HANDLE output_;
    bool console_;
    std::wstring pending_;
};

// Hands out what was typed, as typed. Ctrl+Z ends the input where it stands
// and for good, as the runtime's text mode ends a redirected stream: the text
// before it is the last line, nothing after it is read. Each read adds
// processed, line and echo input to the parent's mode and puts the parent's
// mode back afterwards, keeping the user's editing settings (insert mode).
// Without processed input the console still ends the read at Enter, but hands
// back the line with CR and no LF, so no line would ever end.
class ConsoleInputBuffer : public std::wstreambuf {
public:
    explicit ConsoleInputBuffer(HANDLE input) : input_(input) {}

protected:
    // A read that ends with no character is the end of input. The console ends
    // a read that way at Ctrl+C and Ctrl+Break, which the run claims as no
    // answer: asking again would ignore the key the user pressed to stop.
    int_type underflow() override {
        DWORD mode, read = 0;
        if (!ended_ && GetConsoleMode(input_, &mode)) {
            SetConsoleMode(input_, mode | ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
            if (!ReadConsoleW(input_, typed_.data(), static_cast<DWORD>(typed_.size()), &read, nullptr)) read = 0;
            SetConsoleMode(input_, mode);
        }
        setg(typed_.data(), typed_.data(), std::find(typed_.data(), typed_.data() + read, L'\x1A'));
        ended_ = ended_ || egptr() != typed_.data() + read;
        return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

private:
    HANDLE input_;
    bool ended_ = false;
    std::array<wchar_t, 1024> typed_{};
};

}  // namespace

// The buffers are never destroyed: the runtime flushes std::wcout after the last static destructor.
void InstallConsoleStreams() {
    std::wcout.rdbuf(new ConsoleOutputBuffer(GetStdHandle(STD_OUTPUT_HANDLE)));
    if (const HANDLE input = GetStdHandle(STD_INPUT_HANDLE); IsConsole(input))
        std::wcin.rdbuf(new ConsoleInputBuffer(input));
}
