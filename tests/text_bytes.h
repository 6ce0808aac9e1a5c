// Texts to and from std::string, for tests that compare them byte for byte.
#pragma once

#include <cstdint>
#include <string>

#include "text/text.h"

inline Text ToText(const std::string& bytes) {
  return Text::FromBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
}

inline std::string ToString(const Text& text) {
  return text.Length() == 0 ? std::string() : std::string(text.Bytes(), static_cast<size_t>(text.Length()));
}
