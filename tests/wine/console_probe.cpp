// Writes lines that no code page holds, then the kind of line that must
// still follow them; the test reads the redirected output back as bytes.
#include "console_dialogue.h"

int wmain() {
    WriteLine(L"value: D:\\\x5F55\x50CF\\x.exe.");
    WriteLine(L"film \U0001F3A5 half \xD800 \r\nend");
    WriteLine(L"Failed to switch desktop.");
    return 0;
}
