// Numbers as the board's options and fault texts write them: the whole text
// is the number, or it is refused.
#pragma once

#include <string>

// An integer in C notation (decimal, 0x hexadecimal, 0 octal).
bool parse_long(const std::string& text, long* out);

// A finite floating-point number.
bool parse_double(const std::string& text, double* out);
