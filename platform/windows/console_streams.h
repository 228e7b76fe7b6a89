// Windows only: stream buffers behind std::wcout and std::wcin that keep every character.
#pragma once

// Puts the buffers in place; the rest of the program keeps using the standard streams unaware of them. Call it
// once, before anything is written or read.
void InstallConsoleStreams();
