// Keeps the sound libraries from printing: the program writes nothing to
// standard error, and a library's complaint is no message for the user.
#pragma once

// Installs a silent error handler for ALSA and points the C library's
// stderr stream, through which the decoders' helpers (mpg123 on a damaged
// MP3, say) and the sound server's client library print, at /dev/null;
// descriptor 2 itself is left alone. Call before any ALSA or libsndfile
// call; later calls do nothing.
void SilenceLibraries();
