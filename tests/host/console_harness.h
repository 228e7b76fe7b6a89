// The console and registry as a test sees them: output counts as shown only
// once flushed, the pause appears as "<pause>", each answer read as "> answer".
#pragma once

#include "host_platform.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

inline const std::wstring kWinlogonPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline const std::wstring kTarnPath = L"SOFTWARE\\WOW6432Node\\Telvora, Inc.\\TARN";

class Console : public std::wstreambuf {
public:
    std::wstring shown, pending;
    std::vector<std::wstring> answers;
    bool asciiOnly = false;  // refuses what a code-page console cannot take, as the C runtime does
    std::size_t journalAtLastRead = 0;

    std::vector<std::wstring> Lines() const {
        std::vector<std::wstring> lines;
        std::wistringstream in(shown);
        for (std::wstring line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

protected:
    std::streamsize xsputn(const wchar_t* text, std::streamsize count) override {
        std::streamsize taken = 0;
        while (taken < count && (!asciiOnly || text[taken] < 0x80)) pending += text[taken++];
        return taken;
    }
    int_type overflow(int_type ch) override {
        const wchar_t c = traits_type::to_char_type(ch);
        return traits_type::eq_int_type(ch, traits_type::eof()) || xsputn(&c, 1) == 1 ? traits_type::not_eof(ch)
                                                                                      : traits_type::eof();
    }
    int sync() override {
        shown += pending;
        pending.clear();
        return 0;
    }
    int_type underflow() override {
        if (next_ == answers.size()) return traits_type::eof();
        current_ = answers[next_++];
        shown += L"> " + current_ + (current_.back() == L'\n' ? L"" : L"\n");
        journalAtLastRead = host::Journal().size();
        setg(current_.data(), current_.data(), current_.data() + current_.size());
        return traits_type::to_int_type(current_[0]);
    }

private:
    std::size_t next_ = 0;
    std::wstring current_;
};

class ConsoleTest : public testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        host::OnPause([this] { console.shown += L"<pause>\n"; });
        out_ = std::wcout.rdbuf(&console);
        in_ = std::wcin.rdbuf(&console);
    }
    void TearDown() override {
        std::wcout.rdbuf(out_);
        std::wcin.rdbuf(in_);
        std::wcout.clear();
        std::wcin.clear();
        host::Reset();
    }

    Console console;

private:
    std::wstreambuf* out_ = nullptr;
    std::wstreambuf* in_ = nullptr;
};
