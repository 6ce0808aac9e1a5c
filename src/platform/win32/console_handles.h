// The handles the console layer works with, as start-up leaves them.
#pragma once

#include <windows.h>

struct ConsoleHandles {
  HANDLE standard_input = INVALID_HANDLE_VALUE;
  HANDLE standard_output = INVALID_HANDLE_VALUE;
  HANDLE standard_error = INVALID_HANDLE_VALUE;
  // The console's own input, read for keys whatever standard input is.
  HANDLE keyboard = INVALID_HANDLE_VALUE;
  // Standard output when it is a console, else standard error; only its
  // mode and cursor are set, nothing is written to it.
  HANDLE console_output = INVALID_HANDLE_VALUE;
};

const ConsoleHandles& CurrentConsoleHandles();
