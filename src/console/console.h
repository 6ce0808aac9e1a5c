// Console start-up and text output on standard output.
#pragma once

#include "text/text.h"

// Prepares the console once at start-up, before any output or key poll.
void InitConsole();
// Writes the bytes of `text` to standard output in one system call; nothing
// for the empty text. Failures are silent and the rest of the text is lost.
void WriteText(const Text& text);
// Writes CR LF to standard output in one system call.
void WriteLineEnd();
