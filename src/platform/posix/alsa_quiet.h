// Keeps ALSA from printing: the program writes nothing to standard error.
#pragma once

// Installs a silent error handler for ALSA. Call before any other ALSA call;
// later calls do nothing.
void SilenceAlsa();
