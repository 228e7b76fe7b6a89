// Every test starts from an empty registry and console, with no faults.
#pragma once

#include "host_platform.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::wstring>;
inline const std::wstring kWinlogonPath = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
inline const std::wstring kTarnPath = L"SOFTWARE\\WOW6432Node\\Telvora, Inc.\\TARN";

class HostTest : public testing::Test {
protected:
    void SetUp() override { host::Reset(); }
};
