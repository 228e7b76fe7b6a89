#include "shell_config.h"
#include "host_test.h"

namespace {

using ShellConfigTest = HostTest;

HKEY OpenTarn() {
    host::CreateKey(kTarnPath);
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Telvora, Inc.\\TARN", 0, KEY_READ | KEY_WOW64_32KEY, &key);
    return key;
}

std::vector<HKEY> Closed() {
    std::vector<HKEY> handles;
    for (const auto& close : host::CallsOf(host::Call::Close)) handles.push_back(close.status ? nullptr : close.handle);
    return handles;
}

TEST_F(ShellConfigTest, KeyOwnerClosesEachHandleOnceAcrossMoves) {
    HKEY a = OpenTarn(), b = OpenTarn();
    {
        RegKeyOwner first(a), second(std::move(first)), third(b);
        third = std::move(second);  // closes b
        RegKeyOwner& alias = third;
        third = std::move(alias);  // keeps a
        EXPECT_TRUE(!first && !second && third.get() == a && Closed() == std::vector<HKEY>{b});
    }
    EXPECT_EQ(Closed(), (std::vector<HKEY>{b, a}));
}

TEST_F(ShellConfigTest, NullHandlesAndUnknownTargetsTouchNothingSilently) {
    HKEY key = OpenTarn();  // holds no values: any read would fail with a line
    EXPECT_EQ(ResolveNvrShellPath(nullptr) + ReadStringValue(nullptr, L"", L"NVR"), L"");
    EXPECT_FALSE(IsNvrAppliance(nullptr) || WriteStringValue(nullptr, L"Shell", L"explorer.exe") ||
                 SetWinlogonShell(nullptr, key, DesktopTarget::NvrDesktop) ||
                 SetWinlogonShell(key, key, static_cast<DesktopTarget>(0)));
    EXPECT_TRUE(host::Screen().empty() && host::Journal().size() == 1);  // only the open above
    RegCloseKey(key);
}

}  // namespace
