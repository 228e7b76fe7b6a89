#include "switch_command.h"
#include "host_test.h"

#include <functional>

namespace {

using host::Call;

const std::wstring kSuffix = L"\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe", kLongest(2046, L'D');
const std::wstring kPrevious = L"previous.exe", kRecorder = L"D:\\Recorder" + kSuffix, kPause = L"<pause>";
const std::wstring kDone = L"The operation is completed successfully.", kFailed = L"Failed to switch desktop.";
const std::wstring kWrong = L"Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).";
const std::wstring kNoWinlogon = L"Failed to open WinInfo registry key.";
const std::wstring kNoTarn = L"Failed to open TARN registry key.";
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
    Lines end;      // what the console shows after the last answer
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
    EXPECT_EQ(host::Screen(), Cat(transcript, c.end));
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
    RunCase{"NvrDesktop", {L"s"}, {}, {L"yes"}, {kDone, kPause}, 0, kRecorder},
    RunCase{"WindowsDesktopReadsNoPath", {L"W"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_ACCESS_DENIED); }, {L"Y"},
            {kDone, kPause}, 0, L"explorer.exe"},
    RunCase{"FirstCharacterCounts", {L"S"}, {}, {L"maybe", L"", L" y", L"1", L"\xFF", L"yup"}, {kDone, kPause}, 0,
            kRecorder},
    RunCase{"NoArgument", {}, {}, {}, {kWrong, kPause}},
    RunCase{"TwoArguments", {L"s", L"w"}, {}, {}, {kWrong, kPause}},
    RunCase{"TwoLetters", {L"sw"}, {}, {}, {kWrong, kPause}},
    RunCase{"EmptyArgument", {L""}, {}, {}, {kWrong, kPause}},
    RunCase{"OtherLetter", {L"x"}, {}, {}, {kWrong, kPause}},
    RunCase{"LongS", {L"\x017F"}, {}, {}, {kWrong, kPause}},
    RunCase{"NotElevated", {L"s"}, host::DenyWriteAccess, {}, {kNoWinlogon, kPause}},
    RunCase{"WinlogonNullHandle", {L"s"}, [] { host::FailOpen(kWinlogonPath, 0); }, {}, {kNoWinlogon, kPause}},
    RunCase{"NoSoftwareKey", {L"s"}, [] { host::DeleteKey(kTarnPath); }, {}, {kNoTarn, kPause}},
    RunCase{"SoftwareKeyIn64BitView", {L"s"},
            [] { host::DeleteKey(kTarnPath); host::CreateKey(L"SOFTWARE\\Telvora, Inc.\\TARN"); }, {},
            {kNoTarn, kPause}},
    RunCase{"MarkerDenied", {L"s"}, [] { host::FailRead(L"NVR", ERROR_ACCESS_DENIED); }, {}, {kNoNvr, kNotNvr, kPause}},
    RunCase{"MarkerZero", {L"s"}, [] { Put(L"NVR", L"0"); }, {}, {kNotNvr, kPause}},
    RunCase{"Declined", {L"s"}, {}, {L"nO"}, {}, 0},
    RunCase{"EndOfInput", {L"s"}, {}, {L"ok"},
            Cat(kPrompt, {L"No answer was given. The desktop was not switched.", kPause})},
    RunCase{"NoInstallPath", {L"s"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_FILE_NOT_FOUND); }, {L"y"},
            {kNoPath, kFailed, kPause}},
    RunCase{"LongestInstallPath", {L"s"}, [] { Put(L"INSTALL_PATH", kLongest); }, {L"y"}, {kDone, kPause}, 0,
            kLongest + kSuffix},
    RunCase{"InstallPathTooLong", {L"s"}, [] { Put(L"INSTALL_PATH", kLongest + L"D"); }, {L"y"},
            {kNoPath, kFailed, kPause}},
    RunCase{"EmptyInstallPath", {L"s"}, [] { Put(L"INSTALL_PATH", L""); }, {L"y"}, {kFailed, kPause}},
    RunCase{"WriteRefused", {L"w"}, [] { host::FailWrite(L"Shell", ERROR_ACCESS_DENIED); }, {L"y"},
            {L"Failed to set value. Value name: Shell, value: explorer.exe.", kFailed, kPause}},
    RunCase{"LogOffRefused", {L"s"}, host::RefuseLogOff, {L"y"},
            {L"Failed to log off current user. Please manually log off and log on again.", kPause}, -1, kRecorder}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
