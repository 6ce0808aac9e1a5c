// Lets the console layer's wait wake up when the playing sound ends.
#pragma once

// A descriptor that polls readable from the moment the playing sound has
// ended (or failed) until the next "play"; -1 when no sound is open.
int SoundEndDescriptor();
