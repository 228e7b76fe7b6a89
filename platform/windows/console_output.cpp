// Windows only: gives the wide standard output a stream buffer that keeps
// every character. The C runtime's own conversion in the default locale stops
// at the first character the console code page lacks and then fails the
// stream. Here a console gets UTF-16 through WriteConsoleW, so characters show
// as themselves; a file or pipe gets UTF-8. Installed before wmain runs, so the
// system's code keeps writing to std::wcout unaware of it.
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <streambuf>
#include <string>

namespace {

class ConsoleOutputBuffer : public std::wstreambuf {
public:
    explicit ConsoleOutputBuffer(HANDLE output) : output_(output) {}

protected:
    int_type overflow(int_type ch) override {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) pending_.push_back(traits_type::to_char_type(ch));
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        return count;
    }

    // Text leaves only here, whole lines at a time, so a surrogate pair is never
    // split. Line ends become CR LF, as the runtime's text mode writes them.
    int sync() override {
        std::wstring text;
        for (const wchar_t ch : pending_) {
            if (ch == L'\n') text.push_back(L'\r');
            text.push_back(ch);
        }
        pending_.clear();
        const bool written = text.empty() || (IsConsole() ? WriteToConsole(text) : WriteUtf8(text));
        return written ? 0 : -1;
    }

private:
    bool IsConsole() const {
        DWORD mode = 0;
        return GetConsoleMode(output_, &mode) != FALSE;
    }

    bool WriteToConsole(const std::wstring& text) const {
        for (std::size_t done = 0; done < text.size();) {
            DWORD written = 0;
            std::size_t chunk = std::min<std::size_t>(text.size() - done, 4096);
            if (chunk > 1 && IS_HIGH_SURROGATE(text[done + chunk - 1])) --chunk;  // keep a pair together
            if (!WriteConsoleW(output_, text.data() + done, static_cast<DWORD>(chunk), &written, nullptr) || written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }

    // Unpaired surrogates become U+FFFD, so the bytes are always valid UTF-8.
    bool WriteUtf8(const std::wstring& text) const {
        const int units = static_cast<int>(text.size());
        const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
        if (size <= 0) return false;
        std::string bytes(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data(), size, nullptr, nullptr);
        for (std::size_t done = 0; done < bytes.size();) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(bytes.size() - done);
            if (!WriteFile(output_, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
            done += written;
        }
        return true;
    }

    HANDLE output_;
    std::wstring pending_;
};

// Puts the buffer in place before wmain and hands the stream back at exit,
// before the runtime's final flush of std::wcout.
struct ConsoleOutputInstaller {
    ConsoleOutputInstaller() : previous(std::wcout.rdbuf(&buffer)) {}
    ~ConsoleOutputInstaller() {
        std::wcout.flush();
        std::wcout.rdbuf(previous);
    }
    ConsoleOutputInstaller(const ConsoleOutputInstaller&) = delete;
    ConsoleOutputInstaller& operator=(const ConsoleOutputInstaller&) = delete;

    ConsoleOutputBuffer buffer{GetStdHandle(STD_OUTPUT_HANDLE)};
    std::wstreambuf* previous;
};

const ConsoleOutputInstaller installer;

}  // namespace
