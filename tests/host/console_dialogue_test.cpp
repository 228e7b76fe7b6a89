#include "console_dialogue.h"
#include "console_harness.h"

namespace {

const std::vector<std::wstring> kPrompt = {L"This will logout your current session after switching the desktop.",
                                           L"Please save all opened documents before next operations.",
                                           L"Are you sure? (Yes/No)"};

struct AnswerCase {
    std::vector<std::wstring> input;
    Confirmation expected;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.input.size() << " answers"; }

class ConfirmSwitchTest : public ConsoleTest, public testing::WithParamInterface<AnswerCase> {};

// The prompt is shown whole before every read, and once more before giving up.
TEST_P(ConfirmSwitchTest, FirstCharacterDecidesAndAnythingElseAsksAgain) {
    console.answers = GetParam().input;
    EXPECT_EQ(ConfirmSwitch(), GetParam().expected);

    std::vector<std::wstring> expected;
    for (const auto& answer : GetParam().input) {
        expected.insert(expected.end(), kPrompt.begin(), kPrompt.end());
        expected.push_back(L"> " + answer.substr(0, answer.find(L'\n')));
    }
    if (GetParam().expected == Confirmation::NoAnswer) expected.insert(expected.end(), kPrompt.begin(), kPrompt.end());
    EXPECT_EQ(console.Lines(), expected);
    EXPECT_EQ(host::PauseCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ConfirmSwitchTest,
    testing::Values(AnswerCase{{L"yes\n"}, Confirmation::Agreed}, AnswerCase{{L"Y\n"}, Confirmation::Agreed},
                    AnswerCase{{L"yup"}, Confirmation::Agreed}, AnswerCase{{L"nO\n"}, Confirmation::Declined},
                    AnswerCase{{L"nope\n"}, Confirmation::Declined},
                    AnswerCase{{L"maybe\n", L"y\n"}, Confirmation::Agreed},
                    AnswerCase{{L"\n", L" y\n", L"ok\n", L"1\n", L"\xFF\n", L"n\n"}, Confirmation::Declined},
                    AnswerCase{{}, Confirmation::NoAnswer}, AnswerCase{{L"maybe\n", L"\n"}, Confirmation::NoAnswer}));

using WriteLineTest = ConsoleTest;

TEST_F(WriteLineTest, EachLineIsShownBeforeThePause) {
    WriteLine(L"first");
    PauseConsole();
    WriteLine(L"second");
    EXPECT_EQ(console.Lines(), (std::vector<std::wstring>{L"first", L"<pause>", L"second"}));
}

TEST_F(WriteLineTest, ControlCharactersCannotForgeALine) {
    WriteLine(L"value: X\r\nThe operation is completed successfully.\x1B[2J\x85.");
    EXPECT_EQ(console.Lines(),
              (std::vector<std::wstring>{L"value: X\xFFFD\xFFFDThe operation is completed successfully.\xFFFD[2J\xFFFD."}));
}

TEST_F(WriteLineTest, AnUnprintableCharacterDoesNotSilenceLaterLines) {
    console.asciiOnly = true;
    WriteLine(L"Failed to set value. Value name: Shell, value: D:\\\x5F55\x50CF\\x.exe.");
    WriteLine(L"Failed to switch desktop.");
    EXPECT_EQ(console.Lines(), (std::vector<std::wstring>{L"Failed to set value. Value name: Shell, value: D:\\",
                                                          L"Failed to switch desktop."}));
    EXPECT_TRUE(std::wcout.good());
}

}  // namespace
