// The Windows entry point: runs the player once and ends the process with
// its result as the exit code.
#include <windows.h>

#include "main/process.h"

int main() { ExitProcess(static_cast<UINT>(RunProcess())); }
