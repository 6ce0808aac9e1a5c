// The media command strings the player sends, taken apart.
#pragma once

#include <string_view>

enum class MediaVerb { kOpen, kPlay, kStatusMode, kClose };

// One command: what to do, and the file name between the quotes.
struct MediaCommand {
  MediaVerb verb = MediaVerb::kOpen;
  std::string_view name;  // without its quotes; points into the command text
};

// Reads "open NAME", "play NAME", "status NAME mode" or "close NAME", the
// verb in lower case, NAME in double quotes. The name is everything from the
// first byte after the verb's blank up to the end (or up to the final
// " mode"), so quotes inside it belong to the name. False for a null or
// unknown command or a name that is not quoted.
bool ParseMediaCommand(const char* command, MediaCommand* parsed);
