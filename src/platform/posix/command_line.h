// Forming one command line from argv, and the two words Linux programs
// answer by themselves.
#pragma once

#include <string>

// The program name, then each argument after one blank, unquoted. The
// program name is put in double quotes when it holds a blank or a control
// byte, so that the tail still begins after it. An argument that is an
// option (a "/" then q, r or v in either case, and no other "/") stays as it
// is; in every other argument "/" becomes "\".
std::string FormCommandLine(int argc, const char* const* argv);

// When the only argument is "--help" or "--version", prints the usage text
// or the version lines and returns true: the program then exits with 0.
// Any other command line (even "--help" with more after it) returns false
// and prints nothing.
bool AnswerHelpOrVersion(int argc, const char* const* argv);
