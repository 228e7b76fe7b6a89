#include "console_harness.h"
#include "shell_config.h"

namespace {

using host::Call;
using ShellConfigTest = ConsoleTest;

HKEY OpenTarn() {
    host::CreateKey(kTarnPath);
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Telvora, Inc.\\TARN", 0, KEY_READ | KEY_WOW64_32KEY, &key);
    return key;
}

TEST_F(ShellConfigTest, KeyOwnerClosesEachHandleExactlyOnceAcrossMoves) {
    {
        RegKeyOwner first(OpenTarn());
        RegKeyOwner second(std::move(first));
        RegKeyOwner third(OpenTarn());
        third = std::move(second);  // closes the handle third held
        RegKeyOwner& alias = third;
        third = std::move(alias);
        EXPECT_FALSE(first);
        EXPECT_EQ(host::CallsOf(Call::Close).size(), 1u);
    }
    const auto closes = host::CallsOf(Call::Close);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_NE(closes[0].handle, closes[1].handle);
    for (const auto& close : closes) EXPECT_EQ(close.status, ERROR_SUCCESS);
}

TEST_F(ShellConfigTest, NullHandlesAndUnknownTargetsTouchNothingSilently) {
    HKEY key = OpenTarn();
    EXPECT_FALSE(IsNvrAppliance(nullptr));
    EXPECT_EQ(ResolveNvrShellPath(nullptr) + ReadStringValue(nullptr, L"", L"NVR"), L"");
    EXPECT_FALSE(WriteStringValue(nullptr, L"Shell", L"explorer.exe"));
    EXPECT_FALSE(SetWinlogonShell(nullptr, key, DesktopTarget::WindowsDesktop));
    EXPECT_FALSE(SetWinlogonShell(key, key, static_cast<DesktopTarget>(3)));
    EXPECT_TRUE(console.Lines().empty());
    EXPECT_EQ(host::Journal().size(), 1u);  // only the open above
    RegCloseKey(key);
}

}  // namespace
