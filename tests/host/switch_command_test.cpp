#include "console_harness.h"
#include "switch_command.h"

#include <functional>

namespace {

using host::Call;
using Lines = std::vector<std::wstring>;

const std::wstring kSuffix = L"\\Server\\Utility\\Stationkeeper\\Kestrelwarden.exe";
const std::wstring kRecorderShell = L"D:\\Recorder" + kSuffix;
const std::wstring kLongest(2046, L'D');
const Lines kPrompt = {L"This will logout your current session after switching the desktop.",
                       L"Please save all opened documents before next operations.", L"Are you sure? (Yes/No)"};

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Appliance() {
    host::PutString(kWinlogonPath, L"Shell", L"previous.exe");
    host::PutString(kTarnPath, L"NVR", L"1");
    host::PutString(kTarnPath, L"INSTALL_PATH", L"D:\\Recorder");
}

struct RunCase {
    const char* name;
    std::vector<std::wstring> args;
    std::function<void()> arrange;
    std::vector<std::wstring> answers;
    Lines transcript;
    int exitCode;
    std::wstring shellAfter;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class SwitchRunTest : public ConsoleTest, public testing::WithParamInterface<RunCase> {
protected:
    int Run(const std::vector<std::wstring>& args) {
        std::vector<const wchar_t*> argv{L"DesktopSwitch.exe"};
        for (const auto& arg : args) argv.push_back(arg.c_str());
        return RunSwitchCommand(static_cast<int>(argv.size()), argv.data());
    }
};

TEST_P(SwitchRunTest, CompleteRun) {
    const RunCase& c = GetParam();
    Appliance();
    if (c.arrange) c.arrange();
    console.answers = c.answers;

    EXPECT_EQ(Run(c.args), c.exitCode);
    EXPECT_EQ(console.Lines(), c.transcript);
    EXPECT_EQ(host::GetString(kWinlogonPath, L"Shell"), c.shellAfter);

    // The platform contract: views and access masks, the read type, the log-off flags.
    for (const auto& open : host::CallsOf(Call::Open))
        EXPECT_EQ(open.detail, open.path == kWinlogonPath ? 0x2011Fu : 0x20219u);
    for (const auto& read : host::CallsOf(Call::Get)) EXPECT_EQ(read.detail, static_cast<DWORD>(RRF_RT_REG_SZ));
    for (const auto& logOff : host::CallsOf(Call::LogOff)) EXPECT_TRUE(logOff.detail == 4 && logOff.status == 0);

    // Released after the pause, software key first; each handle once; nothing written before the answer.
    EXPECT_TRUE(host::OpenKeyPaths().empty());
    std::vector<std::wstring> opened, closed;
    for (const auto& open : host::CallsOf(Call::Open))
        if (open.status == ERROR_SUCCESS && open.handle != nullptr) opened.insert(opened.begin(), open.path);
    for (const auto& close : host::CallsOf(Call::Close)) {
        EXPECT_EQ(close.status, ERROR_SUCCESS);
        closed.push_back(close.path);
    }
    EXPECT_EQ(closed, opened);
    const auto& journal = host::Journal();
    bool paused = c.transcript.back() != L"<pause>";
    for (std::size_t i = 0; i < journal.size(); ++i) {
        EXPECT_FALSE(journal[i].call == Call::Set && i < console.journalAtLastRead) << "written before the answer";
        EXPECT_FALSE(journal[i].call == Call::Close && !paused) << "released before the pause";
        paused = paused || journal[i].call == Call::Command;
    }
}

void NoKey() { host::DeleteKey(kTarnPath); }
const Lines kWrong = {L"Wrong parameters. Only support s(to NVR desktop) and w(to Windows desktop).", L"<pause>"};

INSTANTIATE_TEST_SUITE_P(Outcomes, SwitchRunTest, testing::Values(
    RunCase{"NvrDesktop", {L"s"}, nullptr, {L"yes\n"},
            Join({kPrompt, {L"> yes", L"The operation is completed successfully.", L"<pause>"}}), 0, kRecorderShell},
    RunCase{"WindowsDesktop", {L"W"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_ACCESS_DENIED); }, {L"Y\n"},
            Join({kPrompt, {L"> Y", L"The operation is completed successfully.", L"<pause>"}}), 0, L"explorer.exe"},
    RunCase{"OnlyTheFirstCharacterCounts", {L"S"}, nullptr, {L"maybe\n", L"\n", L" y\n", L"1\n", L"\xFF\n", L"yup"},
            Join({kPrompt, {L"> maybe"}, kPrompt, {L"> "}, kPrompt, {L">  y"}, kPrompt, {L"> 1"}, kPrompt, {L"> \xFF"},
                  kPrompt, {L"> yup", L"The operation is completed successfully.", L"<pause>"}}), 0, kRecorderShell},
    RunCase{"NoArgument", {}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"TwoArguments", {L"s", L"w"}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"TwoLetters", {L"sw"}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"EmptyArgument", {L""}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"OtherLetter", {L"x"}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"LongS", {L"\x017F"}, nullptr, {}, kWrong, -1, L"previous.exe"},
    RunCase{"NotElevated", {L"s"}, host::DenyWriteAccess, {},
            {L"Failed to open WinInfo registry key.", L"<pause>"}, -1, L"previous.exe"},
    RunCase{"WinlogonNullHandle", {L"s"}, [] { host::FailOpen(kWinlogonPath, ERROR_SUCCESS); }, {},
            {L"Failed to open WinInfo registry key.", L"<pause>"}, -1, L"previous.exe"},
    RunCase{"NoSoftwareKey", {L"s"}, NoKey, {}, {L"Failed to open TARN registry key.", L"<pause>"}, -1, L"previous.exe"},
    RunCase{"SoftwareKeyOnlyIn64BitView", {L"s"},
            [] { NoKey(); host::PutString(L"SOFTWARE\\Telvora, Inc.\\TARN", L"NVR", L"1"); }, {},
            {L"Failed to open TARN registry key.", L"<pause>"}, -1, L"previous.exe"},
    RunCase{"NoMarker", {L"s"}, [] { host::FailRead(L"NVR", ERROR_FILE_NOT_FOUND); }, {},
            {L"Failed to get value. Subkey: , value: NVR.", L"This is not a Telvora NVR.", L"<pause>"}, -1,
            L"previous.exe"},
    RunCase{"MarkerOfAnotherType", {L"s"}, [] { host::PutValue(kTarnPath, L"NVR", {REG_DWORD, {1, 0, 0, 0}}); }, {},
            {L"Failed to get value. Subkey: , value: NVR.", L"This is not a Telvora NVR.", L"<pause>"}, -1,
            L"previous.exe"},
    RunCase{"MarkerZero", {L"s"}, [] { host::PutString(kTarnPath, L"NVR", L"0"); }, {},
            {L"This is not a Telvora NVR.", L"<pause>"}, -1, L"previous.exe"},
    RunCase{"Declined", {L"s"}, nullptr, {L"nO\n"}, Join({kPrompt, {L"> nO"}}), 0, L"previous.exe"},
    RunCase{"EndOfInput", {L"s"}, nullptr, {L"ok\n"},
            Join({kPrompt, {L"> ok"}, kPrompt,
                  {L"No answer was given. The desktop was not switched.", L"<pause>"}}), -1, L"previous.exe"},
    RunCase{"NoInstallPath", {L"s"}, [] { host::FailRead(L"INSTALL_PATH", ERROR_FILE_NOT_FOUND); }, {L"y\n"},
            Join({kPrompt, {L"> y", L"Failed to get value. Subkey: , value: INSTALL_PATH.",
                            L"Failed to switch desktop.", L"<pause>"}}), -1, L"previous.exe"},
    RunCase{"LongestInstallPath", {L"s"}, [] { host::PutString(kTarnPath, L"INSTALL_PATH", kLongest); }, {L"y\n"},
            Join({kPrompt, {L"> y", L"The operation is completed successfully.", L"<pause>"}}), 0, kLongest + kSuffix},
    RunCase{"InstallPathTooLong", {L"s"}, [] { host::PutString(kTarnPath, L"INSTALL_PATH", kLongest + L"D"); }, {L"y\n"},
            Join({kPrompt, {L"> y", L"Failed to get value. Subkey: , value: INSTALL_PATH.",
                            L"Failed to switch desktop.", L"<pause>"}}), -1, L"previous.exe"},
    RunCase{"EmptyInstallPath", {L"s"}, [] { host::PutString(kTarnPath, L"INSTALL_PATH", L""); }, {L"y\n"},
            Join({kPrompt, {L"> y", L"Failed to switch desktop.", L"<pause>"}}), -1, L"previous.exe"},
    RunCase{"WriteRefused", {L"w"}, [] { host::FailWrite(L"Shell", ERROR_ACCESS_DENIED); }, {L"y\n"},
            Join({kPrompt, {L"> y", L"Failed to set value. Value name: Shell, value: explorer.exe.",
                            L"Failed to switch desktop.", L"<pause>"}}), -1, L"previous.exe"},
    RunCase{"LogOffRefused", {L"s"}, host::RefuseLogOff, {L"y\n"},
            Join({kPrompt, {L"> y", L"Failed to log off current user. Please manually log off and log on again.",
                            L"<pause>"}}), -1, kRecorderShell}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
