// Reading numbers from option text and writing numbers as text.
#pragma once

#include <cstdint>

#include "text/text.h"

// The number at the start of `text`: blanks, tabs and line feeds skipped,
// then a decimal number (sign, one point, D/E exponent) or an ampersand radix
// form (&H, &O, &Q, &B, bare &). Whatever follows is ignored; no number is 0.
double ParseNumber(const Text& text);
// Nearest integer, ties to even; outside the 32-bit range (or not finite)
// gives -2147483648.
int32_t RoundToInt32(double value);
// A sign character ("-" or a blank) and the decimal digits: " 3", "-1".
Text NumberToText(int32_t value);
// The same without the blank before a non-negative value: "3", "-1".
Text NumberToPlainText(int32_t value);
