#pragma once
// Hexadecimal text of byte strings.
#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Every byte as two uppercase hexadecimal digits.
std::string StrToHex(const std::string& S);
// Every pair of characters as one byte (a last single digit counts alone); a character that
// is not a hexadecimal digit raises EConvertError.
std::string HexToStr(const std::string& S);
