#include "console_dialogue.h"
#include "host_test.h"

#include <iostream>

namespace {

using WriteLineTest = HostTest;

// The edges of each control range beside neighbours that stay: no value can forge a line.
TEST_F(WriteLineTest, ControlCharactersShowAsReplacementMarks) {
    WriteLine(L"\x1F \x7E\x7F\x80\x9F\xA0\x2027\x2028\x2029\x202A\r\nDone.\x1B[2J");
    EXPECT_EQ(host::Screen(), Lines{L"\xFFFD ~\xFFFD\xFFFD\xFFFD\xA0\x2027\xFFFD\xFFFD\x202A\xFFFD\xFFFD"
                                    L"Done.\xFFFD[2J"});
}

TEST_F(WriteLineTest, ALineFollowsARefusedFlush) {
    host::RefuseNextFlush();
    std::wcout << L"lost" << std::flush;
    WriteLine(L"Failed to switch desktop.");
    EXPECT_EQ(host::Screen(), Lines{L"Failed to switch desktop."});
}

}  // namespace
