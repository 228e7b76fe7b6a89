#include "console_dialogue.h"

#include <cstdlib>
#include <cwctype>
#include <iostream>

namespace {

// Registry values are echoed in detail lines; a line break or terminal control
// inside one must not forge a line of its own.
bool IsControl(wchar_t ch) { return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0x2028 || ch == 0x2029; }

}  // namespace

bool WriteLine(const std::wstring& text) {
    std::wstring line(text);
    for (auto& ch : line) {
        if (IsControl(ch)) ch = L'\xFFFD';
    }
    // A failed write leaves the stream failed, so every later line fails too.
    return static_cast<bool>(std::wcout << line << L'\n' << std::flush);
}

void PauseConsole() {
    // Whether the interpreter could be started changes nothing for the run.
    [[maybe_unused]] const int ignored = std::system("pause");
}

Confirmation ConfirmSwitch() {
    for (;;) {
        // An answer to a question nobody could read is no answer: nothing is read.
        const bool asked = WriteLine(L"This will logout your current session after switching the desktop.") &&
                           WriteLine(L"Please save all opened documents before next operations.") &&
                           WriteLine(L"Are you sure? (Yes/No)");
        if (!asked) return Confirmation::NoAnswer;

        std::wstring answer;
        if (!std::getline(std::wcin, answer)) return Confirmation::NoAnswer;
        // Only the first character counts; an empty line offers the terminator, which matches nothing.
        switch (std::towupper(static_cast<std::wint_t>(answer.c_str()[0]))) {
            case L'Y': return Confirmation::Agreed;
            case L'N': return Confirmation::Declined;
        }
    }
}
