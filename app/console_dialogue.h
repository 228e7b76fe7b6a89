// Everything the user sees and answers: message lines, the console pause and
// the Yes/No confirmation. Nothing else touches the console streams.
#pragma once

#include <string>

// Writes one line to standard output and flushes it; false when the line did
// not reach it, and for every line after one that did not. The line stays one
// line: control characters show as U+FFFD.
bool WriteLine(const std::wstring& text);

// Holds the console until a key is pressed, through the command interpreter.
void PauseConsole();

// The user's answer to the switch; NoAnswer when standard input ended or
// failed, or when the question could not be written, so nothing was read.
enum class Confirmation { Agreed, Declined, NoAnswer };

// Warns about the log-off and asks until the first character answers Y or N.
Confirmation ConfirmSwitch();
