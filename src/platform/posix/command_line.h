// Forming one command line from argv.
#pragma once

#include <string>

// The program name, then each argument after one blank, unquoted. The
// program name is put in double quotes when it holds a blank or a control
// byte, so that the tail still begins after it. An argument that is an
// option (a "/" then q, r or v in either case, and no other "/") stays as it
// is; in every other argument "/" becomes "\".
std::string FormCommandLine(int argc, const char* const* argv);
