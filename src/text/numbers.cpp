#include "text/numbers.h"

#include <cstdint>
#include <limits>

namespace {

// ---- Powers of ten -----------------------------------------------------------

constexpr int kLargestFinitePower = 308;

struct PowerTable {
  double values[kLargestFinitePower + 1];
};

// A big unsigned integer, 32 bits a word, least significant word first; wide
// enough for 10^309.
struct BigNumber {
  uint32_t words[33] = {1};
  int32_t used = 1;

  constexpr bool Bit(int32_t index) const {
    return ((words[index / 32] >> (index % 32)) & 1u) != 0;
  }
  constexpr int32_t BitLength() const {
    int32_t length = (used - 1) * 32;
    for (uint32_t top = words[used - 1]; top != 0; top >>= 1) ++length;
    return length;
  }
  constexpr void MultiplyByTen() {
    uint64_t carry = 0;
    for (int32_t i = 0; i < used; ++i) {
      const uint64_t product = uint64_t{words[i]} * 10u + carry;
      words[i] = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) words[used++] = static_cast<uint32_t>(carry);
  }
};

// The double nearest to `number`, ties to even; `number` must be below 2^1024.
constexpr double NearestDouble(const BigNumber& number) {
  const int32_t length = number.BitLength();
  uint64_t mantissa = 0;
  // The top 53 bits, then the rest rounded in: the value is mantissa * 2^scale.
  int32_t scale = length > 53 ? length - 53 : 0;
  for (int32_t i = length - 1; i >= scale; --i) {
    mantissa = (mantissa << 1) | (number.Bit(i) ? 1u : 0u);
  }
  if (scale > 0) {
    const bool half = number.Bit(scale - 1);
    bool below_half = false;
    for (int32_t i = scale - 2; i >= 0 && !below_half; --i) below_half = number.Bit(i);
    if (half && (below_half || (mantissa & 1u) != 0)) {
      ++mantissa;
      if (mantissa == (uint64_t{1} << 53)) {
        mantissa >>= 1;
        ++scale;
      }
    }
  }
  // Both steps are exact: the mantissa has at most 53 bits and scaling by a
  // power of two only changes the exponent.
  double value = static_cast<double>(mantissa);
  for (; scale >= 32; scale -= 32) value *= 4294967296.0;
  for (; scale > 0; --scale) value *= 2.0;
  return value;
}

// Every finite power of ten, each the double nearest to it, worked out by the
// compiler so that no run-time rounding creeps in.
constexpr PowerTable MakePowersOfTen() {
  PowerTable table{};
  BigNumber power;
  for (int32_t k = 0; k <= kLargestFinitePower; ++k) {
    table.values[k] = NearestDouble(power);
    power.MultiplyByTen();
  }
  return table;
}

constexpr PowerTable kPowersOfTen = MakePowersOfTen();

double PowerOfTen(int32_t exponent) {
  if (exponent > kLargestFinitePower) return std::numeric_limits<double>::infinity();
  return kPowersOfTen.values[exponent];
}

// ---- Reading -------------------------------------------------------------------

// The characters of a text, read front to back; -1 past the end.
class Reader {
 public:
  explicit Reader(const Text& text)
      : bytes_(reinterpret_cast<const uint8_t*>(text.Bytes())), length_(text.Length()) {}

  int32_t Peek(int32_t ahead = 0) const {
    const int64_t index = int64_t{position_} + ahead;
    return index < length_ ? bytes_[index] : -1;
  }
  void Skip(int32_t count = 1) { position_ += count; }
  bool Take(char wanted) {
    if (Peek() != static_cast<uint8_t>(wanted)) return false;
    Skip();
    return true;
  }

 private:
  const uint8_t* bytes_;
  int32_t length_;
  int32_t position_ = 0;
};

bool IsDecimalDigit(int32_t c) { return c >= '0' && c <= '9'; }

constexpr int32_t kMaxMantissaDigits = 18;  // so that the mantissa fits in 64 bits
constexpr int32_t kLargestExponent = 9999;
// From this power of ten on a number reads as 2^127, and from its negative on
// as zero, whatever its digits.
constexpr int64_t kHugeScale = 4933;
constexpr double kHugeValue = 170141183460469231731687303715884105728.0;  // 2^127

double ReadDecimal(Reader& reader) {
  const bool negative = reader.Peek() == '-';
  if (reader.Peek() == '-' || reader.Peek() == '+') reader.Skip();

  // The mantissa is 0.d1 d2 ... dn times 10^point.
  uint64_t mantissa = 0;
  int32_t kept_digits = 0;
  int64_t significant_digits = 0;
  int64_t point = 0;
  bool any_digit = false;
  bool seen_point = false;
  for (;;) {
    const int32_t c = reader.Peek();
    if (c == '.' && !seen_point) {
      seen_point = true;
    } else if (IsDecimalDigit(c)) {
      any_digit = true;
      if (significant_digits > 0 || c != '0') {
        ++significant_digits;
        if (!seen_point) ++point;
        // Digits past the eighteenth are dropped, not rounded.
        if (kept_digits < kMaxMantissaDigits) {
          mantissa = mantissa * 10u + static_cast<uint32_t>(c - '0');
          ++kept_digits;
        }
      } else if (seen_point) {
        --point;  // a zero between the point and the first significant digit
      }
    } else {
      break;
    }
    reader.Skip();
  }
  if (!any_digit) return 0.0;

  int32_t exponent = 0;
  const int32_t marker = reader.Peek();
  if (marker == 'E' || marker == 'e' || marker == 'D' || marker == 'd') {
    reader.Skip();
    const bool negative_exponent = reader.Peek() == '-';
    if (reader.Peek() == '-' || reader.Peek() == '+') reader.Skip();
    while (IsDecimalDigit(reader.Peek())) {
      exponent = exponent * 10 + (reader.Peek() - '0');
      if (exponent > kLargestExponent) exponent = kLargestExponent;
      reader.Skip();
    }
    if (negative_exponent) exponent = -exponent;
  }

  if (significant_digits == 0) return 0.0;
  const int64_t scale = point + exponent;
  if (scale >= kHugeScale) return negative ? -kHugeValue : kHugeValue;
  if (scale <= -kHugeScale) return 0.0;

  const int32_t power = static_cast<int32_t>(scale - kept_digits);
  const double digits = static_cast<double>(mantissa);
  const double magnitude = power >= 0 ? digits * PowerOfTen(power) : digits / PowerOfTen(-power);
  return negative ? -magnitude : magnitude;
}

// The value of a digit in any radix up to 36, or 36 for a non-digit.
int32_t DigitValue(int32_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 36;
}

enum class Suffix { kNone, kInteger, kLong, kQuad, kUnsigned };

// The type suffix right after the digits of a radix number, if any.
Suffix ReadSuffix(Reader& reader) {
  if (reader.Take('%')) return Suffix::kInteger;
  if (reader.Peek() == '&' && reader.Peek(1) == '&') {
    reader.Skip(2);
    return Suffix::kQuad;
  }
  if (reader.Take('&')) return Suffix::kLong;
  if (reader.Peek() != '?') return Suffix::kNone;
  for (int32_t i = 0; i < 3 && reader.Take('?'); ++i) {
  }
  return Suffix::kUnsigned;
}

// Reads what follows the ampersand.
double ReadRadix(Reader& reader) {
  int32_t shift = 3;
  switch (reader.Peek()) {
    case 'H': case 'h': shift = 4; reader.Skip(); break;
    case 'O': case 'o': case 'Q': case 'q': reader.Skip(); break;
    case 'B': case 'b': shift = 1; reader.Skip(); break;
    default: break;  // a bare ampersand means octal; the character stays
  }
  const int32_t radix = 1 << shift;

  uint64_t value = 0;
  const bool leading_zero = reader.Peek() == '0';
  bool any_digit = false;
  for (int32_t digit; (digit = DigitValue(reader.Peek())) < radix;) {
    if ((value >> (64 - shift)) != 0) return 0.0;  // a 1-bit would be shifted out
    value = (value << shift) | static_cast<uint32_t>(digit);
    any_digit = true;
    reader.Skip();
  }
  if (!any_digit) return 0.0;

  const Suffix suffix = ReadSuffix(reader);
  // Which type the digits stand for decides how the bit pattern is read.
  if (suffix == Suffix::kUnsigned) return (value >> 63) != 0 ? 0.0 : static_cast<double>(value);
  if (leading_zero || value > UINT32_MAX) return static_cast<double>(static_cast<int64_t>(value));
  if (suffix == Suffix::kQuad) return static_cast<double>(value);
  if (value >= 65536) return static_cast<int32_t>(static_cast<uint32_t>(value));
  if (suffix == Suffix::kLong) return static_cast<double>(value);
  return static_cast<int16_t>(static_cast<uint16_t>(value));
}

// The digits of `value` with a sign character in front when `sign` is not 0.
Text DigitsText(int32_t value, char sign) {
  char buffer[12];
  int32_t start = sizeof buffer;
  // The magnitude in unsigned arithmetic: -2147483648 has no positive twin.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    buffer[--start] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (sign != 0) buffer[--start] = sign;
  return Text::FromBytes(buffer + start, static_cast<int32_t>(sizeof buffer) - start);
}

}  // namespace

double ParseNumber(const Text& text) {
  Reader reader(text);
  while (reader.Peek() == ' ' || reader.Peek() == '\t' || reader.Peek() == '\n') reader.Skip();
  if (reader.Take('&')) return ReadRadix(reader);
  return ReadDecimal(reader);
}

int32_t RoundToInt32(double value) {
  constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();
  // Also false for NaN; the bound leaves room for the halfway cases below.
  if (!(value > -2147483649.0 && value < 2147483649.0)) return kOutOfRange;
  int64_t whole = static_cast<int64_t>(value);  // towards zero
  const double fraction = value - static_cast<double>(whole);  // exact
  const bool odd = (whole & 1) != 0;
  if (fraction > 0.5 || (fraction == 0.5 && odd)) ++whole;
  if (fraction < -0.5 || (fraction == -0.5 && odd)) --whole;
  if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max()) {
    return kOutOfRange;
  }
  return static_cast<int32_t>(whole);
}

Text NumberToText(int32_t value) { return DigitsText(value, value < 0 ? '-' : ' '); }

Text NumberToPlainText(int32_t value) { return DigitsText(value, value < 0 ? '-' : 0); }
