#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "text_bytes.h"

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kTwoTo127 = 1.7014118346046923e38;

double Parse(const std::string& bytes) { return ParseNumber(ToText(bytes)); }

// ---- What an option's number becomes -------------------------------------------

struct RoundedCase {
  const char* why;
  std::string text;
  int32_t expected;
};

TEST(OptionNumberTest, ReadsAndRoundsTheTextAfterAnOption) {
  const RoundedCase cases[] = {
      {"the next option ends the number", "3 /V50", 3},
      {"a blank after the option letters is skipped", " 3", 3},
      {"tabs and line feeds are skipped too", "\t\n 3", 3},
      {"a carriage return is not skipped", "\r3", 0},
      {"half goes to the even two", "2.5", 2},
      {"above half goes up", "2.7", 3},
      {"half goes to the even four", "3.5", 4},
      {"a sign", "-1", -1},
      {"negative half goes to the even neighbour", "-2.5", -2},
      {"letters are no number", "ABC", 0},
      {"the empty text", "", 0},
      {"a sign alone", "-", 0},
      {"a point alone", ".", 0},
      {"digits before letters count", "12ABC", 12},
      {"a comma ends the number", "1,5", 1},
      {"a second point ends the number", "1.2.3", 1},
      {"E exponent", "1E3", 1000},
      {"D exponent", "1D2", 100},
      {"negative exponent", "25E-1", 2},
      {"too large for 32 bits", "99999999999", kMin},
      {"the largest 32-bit value", "2147483647", kMax},
      {"rounding past the largest value", "2147483647.5", kMin},
      {"exponent beyond any double", "1E400", kMin},
      {"exponent saturates at 9999", "1E99999", kMin},
      {"exponent far below any double", "1E-400", 0},
      {"a plain volume", "150", 150},
      {"a negative repeat count", "-5", -5},
      {"hexadecimal", "&H10", 16},
      {"a bare ampersand is octal", "&10", 8},
      {"octal with O", "&O17", 15},
      {"octal with Q", "&Q17", 15},
      {"binary", "&B101", 5},
      {"binary stops at a digit too large", "&B102", 2},
      {"sixteen bits read as signed", "&HFFFF", -1},
      {"a leading zero keeps the value", "&H0FFFF", 65535},
      {"unsigned suffix beyond 32 bits", "&HFFFFFFFF?", kMin},
      {"no sign before an ampersand", "-&H10", 0},
      {"many digits, the first eighteen count", "123456789012345678999", kMin},
  };
  for (const RoundedCase& c : cases) {
    EXPECT_EQ(RoundToInt32(Parse(c.text)), c.expected) << c.why << ": \"" << c.text << "\"";
  }
}

// ---- The parsed value itself -----------------------------------------------------

struct ValueCase {
  const char* why;
  std::string text;
  double expected;
};

void ExpectValues(const ValueCase* begin, const ValueCase* end) {
  for (const ValueCase* c = begin; c != end; ++c) {
    EXPECT_EQ(Parse(c->text), c->expected) << c->why << ": \"" << c->text << "\"";
  }
}

TEST(ParseNumberTest, DecimalForm) {
  const ValueCase cases[] = {
      {"a fraction", "2.5", 2.5},
      {"a point first", ".5", 0.5},
      {"a point last", "5.", 5.0},
      {"zeros after the point are not significant", "0.0012", 0.0012},
      {"digits on both sides", "123.45", 123.45},
      {"a plus sign", "+7", 7.0},
      {"a blank after the sign", "- 7", 0.0},
      {"two signs", "+-7", 0.0},
      {"a doubled sign", "--5", 0.0},
      {"only zeros", "000.000", 0.0},
      {"a negative zero is zero", "-0", 0.0},
      {"lower-case e", "1e3", 1000.0},
      {"lower-case d", "1d2", 100.0},
      {"an exponent with a plus sign", "1.5E+2", 150.0},
      {"an exponent marker without digits", "1E", 1.0},
      {"a signed marker without digits", "1E+", 1.0},
      {"a negative marker without digits", "1E-", 1.0},
      {"the marker follows a final point", "1.E2", 100.0},
      {"no exponent after a second point", "1.2.E5", 1.2},
      {"no exponent without mantissa digits", ".E5", 0.0},
      {"a blank ends the exponent", "1E1 2", 10.0},
      {"a negative exponent makes a fraction", "25E-1", 2.5},
      {"too large for 32 bits, kept as a double", "99999999999", 99999999999.0},
      {"half past the largest 32-bit value", "2147483647.5", 2147483647.5},
      {"leading zeros beyond eighteen digits", "000000000000000000000000123", 123.0},
      {"zeros after the point beyond eighteen digits", "0.000000000000000000000001234567",
       1.234567e-24},
      {"a zero byte ends the number", std::string("12\0003", 4), 12.0},
      {"a byte above 127 ends the number", "7\xB2", 7.0},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

TEST(ParseNumberTest, KeepsEighteenDigitsAndDropsTheRest) {
  // Rounding the 19th digit into the 18th would move these by one unit in
  // the last place of the double.
  const ValueCase cases[] = {
      {"the 19th digit is dropped", "1000000000000000089", 1e18},
      {"the 19th digit is dropped after the point", "0.1000000000000000089", 0.1},
      {"zeros count once the digits are significant", "1000000000000000000000009", 1e24},
      {"dropped digits still move the point", "123456789012345678999", 123456789012345678000.0},
      {"a long mantissa and a negative exponent", "1" + std::string(5000, '0') + "E-4999", 10.0},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

TEST(ParseNumberTest, ExponentSaturatesAndLimitsApply) {
  const std::string tiny = "." + std::string(9999, '0') + "1";  // 10^-10000
  const ValueCase cases[] = {
      {"a saturated exponent is huge", "1E99999", kTwoTo127},
      {"a saturated exponent keeps the sign", "-1E99999", -kTwoTo127},
      {"an exponent beyond 32 bits does not wrap", "1E4294967296", kTwoTo127},
      {"a negative saturated exponent is zero", "1E-99999", 0.0},
      {"the exponent stops at exactly 9999", tiny + "E99999", 0.1},
      {"point and exponent at the upper limit", "1E4932", kTwoTo127},
      {"the upper limit from the point alone", "1" + std::string(4932, '0'), kTwoTo127},
      {"the upper limit, negative", "-0.1E4933", -kTwoTo127},
      {"just below the upper limit the double overflows", "1E4931", kInfinity},
      {"the lower limit", "1E-4934", 0.0},
      {"just above the lower limit the double underflows", "1E-4933", 0.0},
      {"beyond the largest double", "1E309", kInfinity},
      {"the largest power of ten", "1E308", 1e308},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

TEST(ParseNumberTest, PowersOfTenAreTheNearestDoubles) {
  // Exact up to 10^22; beyond, a power built by repeated multiplication
  // drifts (10^23 is the first to differ).
  for (int k = 0; k <= 308; ++k) {
    const std::string text = "1E" + std::to_string(k);
    EXPECT_EQ(Parse(text), std::strtod(text.c_str(), nullptr)) << text;
  }
  EXPECT_EQ(Parse("1E23"), 1e23);
  EXPECT_EQ(Parse("1E-22"), 1e-22);
}

TEST(ParseNumberTest, RadixForm) {
  const ValueCase cases[] = {
      {"lower-case radix letter and digits", "&h1f", 31.0},
      {"blanks before the ampersand are skipped", " &H10", 16.0},
      {"an ampersand alone", "&", 0.0},
      {"a radix letter without digits", "&H", 0.0},
      {"a letter beyond the radix", "&HZ", 0.0},
      {"a binary number without binary digits", "&B2", 0.0},
      {"no blank after the radix letter", "&H 10", 0.0},
      {"a bare ampersand leaves its character", "&8", 0.0},
      {"octal stops at 8", "&O178", 15.0},
      {"the smallest signed 16-bit value", "&H8000", -32768.0},
      {"a leading zero keeps the value", "&H0FFFF", 65535.0},
      {"a long suffix keeps the value", "&HFFFF&", 65535.0},
      {"an integer suffix reads 16 bits as signed", "&HFFFF%", -1.0},
      {"17 bits are read as 32", "&H10000", 65536.0},
      {"32 bits read as signed", "&HFFFFFFFF", -1.0},
      {"a quad suffix keeps 32 bits", "&HFFFFFFFF&&", 4294967295.0},
      {"an unsigned suffix keeps 32 bits", "&HFFFFFFFF?", 4294967295.0},
      {"a run of question marks", "&HFFFF???", 65535.0},
      {"beyond 32 bits", "&H100000000", 4294967296.0},
      {"octal 16 bits read as signed", "&177777", -1.0},
      {"octal with a leading zero keeps the value", "&0177777", 65535.0},
      {"64 bits read as signed", "&HFFFFFFFFFFFFFFFF", -1.0},
      {"the top bit set", "&H8000000000000000", -9223372036854775808.0},
      {"the top bit set with an unsigned suffix", "&H8000000000000000?", 0.0},
      {"63 bits with an unsigned suffix", "&H7FFFFFFFFFFFFFFF?", 9223372036854775807.0},
      {"17 hexadecimal digits overflow", "&H10000000000000000", 0.0},
      {"overflow is not wrap-around", "&H10000000000000001", 0.0},
      {"overflow by one bit", "&H1FFFFFFFFFFFFFFFF", 0.0},
      {"leading zeros never overflow", "&H0000000000000000000001", 1.0},
      {"a leading zero and 64 bits", "&H0FFFFFFFFFFFFFFFF", -1.0},
      {"64 octal bits", "&O1777777777777777777777", -1.0},
      {"65 octal bits overflow", "&O2000000000000000000007", 0.0},
      {"64 binary bits", "&B1" + std::string(63, '0'), -9223372036854775808.0},
      {"65 binary bits overflow", "&B1" + std::string(63, '0') + "1", 0.0},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

// ---- Rounding ------------------------------------------------------------------

struct RoundCase {
  const char* why;
  double value;
  int32_t expected;
};

TEST(RoundToInt32Test, NearestWithTiesToEven) {
  const RoundCase cases[] = {
      {"half to even zero", 0.5, 0},
      {"negative half to even zero", -0.5, 0},
      {"half to even two", 1.5, 2},
      {"half to even two", 2.5, 2},
      {"half to even four", 3.5, 4},
      {"negative half to even two", -2.5, -2},
      {"negative half to even two", -1.5, -2},
      {"just below a half", 0.49999999999999994, 0},
      {"just above a half", 2.5000000000000004, 3},
      {"just below a half, negative", -2.4999999999999996, -2},
      {"negative zero", -0.0, 0},
      {"the smallest double", 4.9406564584124654e-324, 0},
      {"the largest value", 2147483647.0, kMax},
      {"rounds down to the largest value", 2147483647.4, kMax},
      {"half below the largest value to even", 2147483646.5, 2147483646},
      {"half past the largest value", 2147483647.5, kMin},
      {"the smallest value", -2147483648.0, kMin},
      {"half above the smallest value to even", -2147483646.5, -2147483646},
      {"rounds up to the smallest value", -2147483648.4, kMin},
      {"rounds down past the smallest value, no wrap", -2147483648.6, kMin},
      {"below the smallest value", -2147483649.0, kMin},
      {"32 bits unsigned does not wrap", 4294967295.0, kMin},
      {"2^32 + 5 does not wrap", 4294967301.0, kMin},
      {"2^127", kTwoTo127, kMin},
      {"infinity", kInfinity, kMin},
      {"negative infinity", -kInfinity, kMin},
      {"not a number", std::numeric_limits<double>::quiet_NaN(), kMin},
  };
  for (const RoundCase& c : cases) {
    EXPECT_EQ(RoundToInt32(c.value), c.expected) << c.why << ": " << c.value;
  }
}

// ---- Number text ---------------------------------------------------------------

struct NumberTextCase {
  int32_t value;
  const char* with_sign;
  const char* plain;
};

TEST(NumberTextTest, SignCharacterThenDigits) {
  const NumberTextCase cases[] = {
      {3, " 3", "3"},
      {0, " 0", "0"},
      {-1, "-1", "-1"},
      {10, " 10", "10"},
      {263, " 263", "263"},
      {-1000000000, "-1000000000", "-1000000000"},
      {kMax, " 2147483647", "2147483647"},
      {kMin, "-2147483648", "-2147483648"},
  };
  for (const NumberTextCase& c : cases) {
    EXPECT_EQ(ToString(NumberToText(c.value)), c.with_sign) << c.value;
    EXPECT_EQ(ToString(NumberToPlainText(c.value)), c.plain) << c.value;
  }
}

TEST(NumberTextTest, EmptyWhenNoStorageCanBeHad) {
  SetTextAllocator({[](uint32_t) -> void* { return nullptr; }, [](void*) {}});
  const Text with_sign = NumberToText(42);
  const Text plain = NumberToPlainText(-42);
  UseDefaultTextAllocator();
  EXPECT_EQ(with_sign.Length(), 0);
  EXPECT_EQ(plain.Length(), 0);
}

}  // namespace
