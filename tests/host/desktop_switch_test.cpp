// The switch over the host stand-in: every outcome, answer and injected fault, and the order of the
// platform calls. Every test starts from an empty registry and console, with no faults.
#include "console_dialogue.h"
#include "shell_config.h"
#include "switch_command.h"

#include "host_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

namespace {

using host::Call;
using Lines = std::vector<std::wstring>;
const std::wstring kWinlogonPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::wstring kTarnPath = L"SOFTWARE\\WOW6432Node\\Telvora, Inc.\\TARN";

class HostTest : public testing::Test {
protected:
    void SetUp() override { host::Reset(); }
};

// A flush refused before does not swallow the line, and the edges of each control range show as U+FFFD beside
// neighbours that stay, so no value can forge a line.
TEST_F(HostTest, WriteLineShowsOneWholeLine) {
    host::RefuseNextFlush();
    std::wcout << L"lost" << std::flush;
    WriteLine(L"\x1F \x7E\x7F\x80\x9F\xA0\x2027\x2028\x2029\x202A\r\nDone.\x1B[2J");
    EXPECT_EQ(host::Screen(), Lines{L"\xFFFD ~\xFFFD\xFFFD\xFFFD\xA0\x2027\xFFFD\xFFFD\x202A\xFFFD\xFFFD"
                                    L"Done.\xFFFD[2J"});
}

HKEY OpenTarn() {
    host::CreateKey(kTarnPath);
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Telvora, Inc.\\TARN", 0, KEY_READ | KEY_WOW64_32KEY, &key);
    return key;
}

TEST_F(HostTest, KeyOwnerClosesEachHandleOnceAcrossMoves) {
    HKEY a = OpenTarn(), b = OpenTarn();
    {
        RegKeyOwner first(a), second(std::move(first)), third(b);
        third = std::move(second);  // closes b
        RegKeyOwner& alias = third;
        third = std::move(alias);  // keeps a
        EXPECT_TRUE(!first && !second && third.get() == a && host::CallsOf(Call::Close).size() == 1);
    }
    const auto closes = host::CallsOf(Call::Close);
    EXPECT_TRUE(closes.size() == 2 && closes[0].handle == b && closes[1].handle == a);
}

TEST_F(HostTest, NullHandlesAndUnknownTargetsTouchNothingSilently) {
    HKEY key = OpenTarn();  // holds no values: any read would fail with a line
    EXPECT_EQ(ResolveNvrShellPath(nullptr) + ReadStringValue(nullptr, L"", L"NVR"), L"");
    EXPECT_FALSE(IsNvrAppliance(nullptr) || WriteStringValue(nullptr, L"Shell", L"explorer.exe") ||
                 SetWinlogonShell(nullptr, key, DesktopTarget::NvrDesktop) ||
                 SetWinlogonShell(key, key, static_cast<DesktopTarget>(0)));
    EXPECT_TRUE(host::Screen().empty() && host::Journal().size() == 1);  // only the open above
    RegCloseKey(key);
}

const std::wstring kSuffix = L"\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe", kLongest(2046, L'D');
const std::wstring kPrevious = L"previous.exe", kRecorder = L"D:\\Recorder" + kSuffix;
const std::wstring kDone = L"The operation is completed successfully.", kFailed = L"Failed to switch desktop.";
const std::wstring kWrong = L"Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).";
const std::wstring kNoWin = L"Failed to open WinInfo registry key.", kNoTarn = L"Failed to open TARN registry key.";
const std::wstring kNotNvr = L"This is not a Telvora NVR.", kNoNvr = L"Failed to get value. Subkey: , value: NVR.";
const std::wstring kNoPath = L"Failed to get value. Subkey: , value: INSTALL_PATH.";
const Lines kPrompt = {L"This will logout your current session after switching the desktop.",
                       L"Please save all opened documents before next operations.", L"Are you sure? (Yes/No)"};

Lines Cat(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}
void Put(const std::wstring& name, const std::wstring& text) { host::PutString(kTarnPath, name, text); }

struct RunCase {
    const char* name;
    Lines args;
    std::function<void()> arrange;
    Lines answers;  // each typed after a prompt
    Lines end;      // what the console shows after the last answer, before the pause
    int exitCode = -1;
    std::wstring shell = kPrevious;
};

class SwitchRunTest : public HostTest, public testing::WithParamInterface<RunCase> {};

TEST_P(SwitchRunTest, CompleteRun) {
    const RunCase& c = GetParam();
    host::PutString(kWinlogonPath, L"Shell", kPrevious);
    Put(L"NVR", L"1");
    Put(L"INSTALL_PATH", L"D:\\Recorder");
    if (c.arrange) c.arrange();
    host::TypeAnswers(c.answers);
    std::vector<const wchar_t*> argv{L"DesktopSwitch.exe"};
    for (const auto& arg : c.args) argv.push_back(arg.c_str());
    Lines transcript;
    for (const auto& answer : c.answers) transcript = Cat(Cat(transcript, kPrompt), {L"> " + answer});

    EXPECT_EQ(RunSwitchCommand(static_cast<int>(argv.size()), argv.data()), c.exitCode);
    EXPECT_EQ(host::Screen(), Cat(transcript, c.end.empty() ? c.end : Cat(c.end, {L"<pause>"})));
    EXPECT_EQ(host::GetString(kWinlogonPath, L"Shell"), c.shell);

    // The platform contract (views and access, read type, log-off flags), the software key opened only after
    // Winlogon, each released once after the pause, software key first, and nothing written before the answer.
    Lines opened, closed;
    bool paused = c.end.empty();
    std::size_t unread = host::CallsOf(Call::Read).size();
    for (const host::Event& e : host::Journal()) {
        if (e.call == Call::Open) EXPECT_EQ(e.detail, e.path == kWinlogonPath ? 0x2011Fu : 0x20219u);
        if (e.call == Call::Open) EXPECT_TRUE(e.path == kWinlogonPath || !opened.empty()) << "Winlogon not open";
        if (e.call == Call::Open && e.handle) opened.insert(opened.begin(), e.path);
        if (e.call == Call::Get) EXPECT_EQ(e.detail, static_cast<DWORD>(RRF_RT_REG_SZ));
        if (e.call == Call::LogOff) EXPECT_TRUE(e.detail == 4 && e.status == 0);
        if (e.call == Call::Close) closed.push_back(e.path);  // a second close has no path
        unread -= e.call == Call::Read;
        EXPECT_FALSE(e.call == Call::Set && unread > 0) << "written before the answer";
        EXPECT_FALSE(e.call == Call::Close && !paused) << "released before the pause";
        paused = paused || e.call == Call::Command;
    }
    EXPECT_EQ(closed, opened);
    EXPECT_TRUE(host::OpenKeyPaths().empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Outcomes, SwitchRunTest, testing::Values(
    RunCase{"NvrDesktop", {L"s"}, {}, {L"yes"}, {kDone}, 0, kRecorder},
    RunCase{"WindowsDesktopReadsNoPath", {L"W"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_ACCESS_DENIED); },
            {L"Y"}, {kDone}, 0, L"explorer.exe"},
    RunCase{"FirstCharacterCounts", {L"S"}, {}, {L"maybe", L"", L" y", L"1", L"\xFF", L"yup"}, {kDone}, 0, kRecorder},
    RunCase{"NoArgument", {}, {}, {}, {kWrong}},
    RunCase{"TwoArguments", {L"s", L"w"}, {}, {}, {kWrong}},
    RunCase{"TwoLetters", {L"sw"}, {}, {}, {kWrong}},
    RunCase{"EmptyArgument", {L""}, {}, {}, {kWrong}},
    RunCase{"OtherLetter", {L"x"}, {}, {}, {kWrong}},
    RunCase{"LongS", {L"\x017F"}, {}, {}, {kWrong}},
    RunCase{"NotElevated", {L"s"}, host::DenyWriteAccess, {}, {kNoWin}},
    RunCase{"WinlogonNullHandle", {L"s"}, [] { host::FailOpen(kWinlogonPath, 0); }, {}, {kNoWin}},
    RunCase{"NoSoftwareKey", {L"s"}, [] { host::DeleteKey(kTarnPath); }, {}, {kNoTarn}},
    RunCase{"SoftwareKeyIn64BitView", {L"s"},
            [] { host::DeleteKey(kTarnPath), host::CreateKey(L"SOFTWARE\\Telvora, Inc.\\TARN"); }, {}, {kNoTarn}},
    RunCase{"MarkerDenied", {L"s"}, [] { host::FailRead(L"NVR", ERROR_ACCESS_DENIED); }, {}, {kNoNvr, kNotNvr}},
    RunCase{"MarkerZero", {L"s"}, [] { Put(L"NVR", L"0"); }, {}, {kNotNvr}},
    RunCase{"Declined", {L"s"}, {}, {L"nO"}, {}, 0},
    RunCase{"EndOfInput", {L"s"}, {}, {L"ok"}, Cat(kPrompt, {L"No answer was given. The desktop was not switched."})},
    RunCase{"NoInstallPath", {L"s"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_FILE_NOT_FOUND); }, {L"y"},
            {kNoPath, kFailed}},
    RunCase{"LongestInstallPath", {L"s"}, [] { Put(L"INSTALL_PATH", kLongest); }, {L"y"}, {kDone}, 0,
            kLongest + kSuffix},
    RunCase{"InstallPathTooLong", {L"s"}, [] { Put(L"INSTALL_PATH", kLongest + L"D"); }, {L"y"}, {kNoPath, kFailed}},
    RunCase{"EmptyInstallPath", {L"s"}, [] { Put(L"INSTALL_PATH", L""); }, {L"y"}, {kFailed}},
    RunCase{"WriteRefused", {L"w"}, [] { host::FailWrite(L"Shell", ERROR_ACCESS_DENIED); }, {L"y"},
            {L"Failed to set value. Value name: Shell, value: explorer.exe.", kFailed}},
    RunCase{"LogOffRefused", {L"s"}, host::RefuseLogOff, {L"y"},
            {L"Failed to log off current user. Please manually log off and log on again."}, -1, kRecorder}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
