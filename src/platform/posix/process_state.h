// State the POSIX entry point hands to the platform layer.
#pragma once

// The command line formed from argv; must stay valid until the process ends.
void SetProcessCommandLine(const char* line);
