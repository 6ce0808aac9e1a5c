// Asking the file system whether a name (wildcards allowed) matches a file.
#pragma once

#include <cstdint>

#include "text/text.h"

// The name of the first entry matching `pattern` whose hidden, system and
// directory attributes are all within `allowed_attributes` (bits of
// platform::kAttribute*); "." and ".." never count. The empty text when no
// entry qualifies. A pattern ending in "\" or ":" searches "*.*" there.
Text FindFileName(const Text& pattern, uint32_t allowed_attributes);
