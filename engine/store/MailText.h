#pragma once
// Small text helpers of the mail model shared by receiver, store and front end. Texts are
// byte strings holding UTF-8; trimming removes leading and trailing bytes 0 to 32.
#include <string>
#include <vector>

// The text between "<" and ">" when S is enclosed in them; otherwise S.
std::string ExtractAddress(const std::string& S);
// The text after the first "@" of ExtractAddress(S), case kept; empty without "@".
std::string ExtractDomain(const std::string& S);
bool IsValidEmail(const std::string& S);
// The Subject header of the first 50 lines, with its TAB-led continuation lines.
std::string GetSubjectHeader(const std::vector<std::string>& Lines);
// The address of the From header, or empty when it is not a valid address.
std::string GetFromAddress(const std::vector<std::string>& Lines);
// Replaces RFC 2047 encoded words by their text (UTF-8). A Q word with a "=" escape that is
// not hexadecimal throws EConvertError.
std::string DecodeHeader(const std::string& S);
// UTF-8 to the engine's text encoding (also UTF-8): invalid sequences become "?".
std::string UTF8ToAnsi(const std::string& S);
// Text in Charset (an iconv name) to UTF-8; bytes the charset does not allow become "?".
// False, and Out untouched, when iconv does not know the charset.
bool CharsetToUTF8(const std::string& Charset, const std::string& In, std::string& Out);
