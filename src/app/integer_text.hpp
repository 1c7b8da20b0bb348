// Integers typed by the operator: signed 32-bit, decimal, or hexadecimal
// after "$", "x", "X" or "0x"; leading blanks and a sign are allowed.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velkor {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws EConvertError "'TEXT' is not a valid integer value" for anything
// else. Hexadecimal takes all 32 bits ("$FFFFFFFF" is -1).
int32_t StrToInt(const std::string& text);

}  // namespace velkor
