#include "console_harness.h"
#include "shell_config.h"

namespace {

using host::Call;

std::vector<BYTE> Unterminated(const std::wstring& text) {
    auto bytes = host::StringBytes(text);
    bytes.resize(bytes.size() - sizeof(wchar_t));
    return bytes;
}

HKEY OpenTarn() {
    host::CreateKey(kTarnPath);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Telvora, Inc.\\TARN", 0, KEY_READ | KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    return key;
}

using RegKeyOwnerTest = ConsoleTest;

TEST_F(RegKeyOwnerTest, ClosesEachHandleExactlyOnceAcrossMoves) {
    {
        RegKeyOwner first(OpenTarn());
        RegKeyOwner second(std::move(first));
        RegKeyOwner third(OpenTarn());
        third = std::move(second);  // closes the handle third held
        RegKeyOwner& alias = third;
        third = std::move(alias);
        RegKeyOwner empty;
        EXPECT_FALSE(first);
        EXPECT_FALSE(empty);
        EXPECT_EQ(host::CallsOf(Call::Close).size(), 1u);
    }
    const auto closes = host::CallsOf(Call::Close);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_NE(closes[0].handle, closes[1].handle);
    for (const auto& close : closes) EXPECT_EQ(close.status, ERROR_SUCCESS);
}

struct ReadCase {
    host::StoredValue stored;
    std::wstring expected;  // empty: a failed read with its detail line
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << "type " << c.stored.type << ", " << c.stored.bytes.size() << " bytes"; }

class ReadStringValueTest : public ConsoleTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadStringValueTest, ReadsWholeRegSzOrSaysWhyNot) {
    HKEY key = OpenTarn();
    host::PutValue(kTarnPath, L"INSTALL_PATH", GetParam().stored);
    EXPECT_EQ(ReadStringValue(key, L"", L"INSTALL_PATH"), GetParam().expected);
    EXPECT_EQ(console.Lines(), GetParam().expected.empty()
                                   ? std::vector<std::wstring>{L"Failed to get value. Subkey: , value: INSTALL_PATH."}
                                   : std::vector<std::wstring>{});
    const auto reads = host::CallsOf(Call::Get);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].detail, static_cast<DWORD>(RRF_RT_REG_SZ));
    RegCloseKey(key);
}

const std::wstring kLongest(2046, L'p');

INSTANTIATE_TEST_SUITE_P(
    Values, ReadStringValueTest,
    testing::Values(ReadCase{{REG_SZ, host::StringBytes(kLongest)}, kLongest},
                    ReadCase{{REG_SZ, host::StringBytes(kLongest + L"p")}, L""},
                    ReadCase{{REG_EXPAND_SZ, host::StringBytes(L"D:\\Recorder")}, L"D:\\Recorder"},
                    ReadCase{{REG_SZ, host::StringBytes(std::wstring(L"D:\\A\0B", 6))}, L"D:\\A"},
                    ReadCase{{REG_SZ, Unterminated(kLongest)}, kLongest},
                    ReadCase{{REG_SZ, Unterminated(kLongest + L"p")}, L""},
                    ReadCase{{REG_MULTI_SZ, host::StringBytes(L"D:")}, L""},
                    ReadCase{{REG_DWORD, {1, 0, 0, 0}}, L""}, ReadCase{{REG_BINARY, {}}, L""}));

using ApplianceTest = ConsoleTest;

TEST_F(ApplianceTest, OnlyTheExactMarkerCounts) {
    HKEY key = OpenTarn();
    for (const std::wstring marker : {L"0", L"01", L"11", L"1 ", L" 1", L"true", L"", L"\xFF11"}) {
        host::PutString(kTarnPath, L"NVR", marker);
        EXPECT_FALSE(IsNvrAppliance(key)) << "NVR=" << marker.size();
    }
    EXPECT_TRUE(console.Lines().empty());
    host::PutString(kTarnPath, L"nvr", L"1");
    EXPECT_TRUE(IsNvrAppliance(key));
    RegCloseKey(key);
}

using SetWinlogonShellTest = ConsoleTest;

TEST_F(SetWinlogonShellTest, NullHandlesAndUnknownTargetsTouchNothingSilently) {
    HKEY key = OpenTarn();
    EXPECT_FALSE(IsNvrAppliance(nullptr));
    EXPECT_EQ(ResolveNvrShellPath(nullptr), L"");
    EXPECT_EQ(ReadStringValue(nullptr, L"", L"NVR"), L"");
    EXPECT_FALSE(WriteStringValue(nullptr, L"Shell", L"explorer.exe"));
    EXPECT_FALSE(SetWinlogonShell(nullptr, key, DesktopTarget::WindowsDesktop));
    EXPECT_FALSE(SetWinlogonShell(key, key, static_cast<DesktopTarget>(3)));
    EXPECT_FALSE(SetWinlogonShell(key, key, static_cast<DesktopTarget>(0)));
    EXPECT_TRUE(console.Lines().empty());
    EXPECT_TRUE(host::CallsOf(Call::Get).empty());
    EXPECT_TRUE(host::CallsOf(Call::Set).empty());
    RegCloseKey(key);
}

}  // namespace
