#pragma once
// Base64 with the standard alphabet, as SMTP AUTH LOGIN uses it.
#include <stdexcept>
#include <string>

class EBase64Error : public std::runtime_error {
public:
  EBase64Error() : std::runtime_error("Invalid base64 data") {}
};

std::string EncodeBase64(const std::string& Data);
// Blanks around the text are ignored; anything else outside the alphabet, a length that is
// not a multiple of 4 or misplaced padding raises EBase64Error.
std::string DecodeBase64(const std::string& Text);
