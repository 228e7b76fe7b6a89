#include "console_dialogue.h"
#include "console_harness.h"

namespace {

using WriteLineTest = ConsoleTest;

TEST_F(WriteLineTest, ControlCharactersCannotForgeALine) {
    WriteLine(L"value: X\r\nThe operation is completed successfully.\x1B[2J\x85.");
    EXPECT_EQ(console.Lines(),
              (std::vector<std::wstring>{L"value: X\xFFFD\xFFFDThe operation is completed successfully.\xFFFD[2J\xFFFD."}));
}

// As the C runtime does at a character the code page lacks: the stream fails mid-line.
TEST_F(WriteLineTest, AnUnprintableCharacterDoesNotSilenceLaterLines) {
    console.asciiOnly = true;
    WriteLine(L"Failed to set value. Value name: Shell, value: D:\\\x5F55\x50CF\\x.exe.");
    WriteLine(L"Failed to switch desktop.");
    EXPECT_EQ(console.Lines(), (std::vector<std::wstring>{L"Failed to set value. Value name: Shell, value: D:\\",
                                                          L"Failed to switch desktop."}));
}

}  // namespace
