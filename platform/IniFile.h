#pragma once
// A read-only ini file with the rules of the Windows profile reader: section and key names
// compared without case, the first occurrence wins, values trimmed and one pair of
// enclosing quotes removed. Bytes are taken as they are (UTF-8 on this system).
#include <cstdint>
#include <string>
#include <vector>

class TIniFile {
public:
  // Reads the file; a missing or unreadable file reads as empty.
  explicit TIniFile(const std::string& FileName);
  // Parses text already in memory.
  static TIniFile FromText(const std::string& Text);

  const std::string& FileName() const { return FFileName; }
  std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const;
  int ReadInteger(const std::string& Section, const std::string& Ident, int Default) const;
  bool SectionExists(const std::string& Section) const;
  bool ValueExists(const std::string& Section, const std::string& Ident) const;
  std::vector<std::string> ReadSections() const;
  // The keys of a section in file order.
  std::vector<std::string> ReadSection(const std::string& Section) const;

private:
  TIniFile() = default;
  void Parse(const std::string& Text);
  struct TEntry {
    std::string Key, Value;
  };
  struct TSection {
    std::string Name;
    std::vector<TEntry> Entries;
  };
  const TSection* Find(const std::string& Section) const;
  const TEntry* FindEntry(const std::string& Section, const std::string& Ident) const;

  std::string FFileName;
  std::vector<TSection> FSections;
};

// Comparison and trimming helpers shared by the text formats of the program.
bool SameText(const std::string& A, const std::string& B);
std::string Trim(const std::string& S);
// A whole text as a 32-bit integer, as the class library converts it: leading blanks, an
// optional sign, decimal digits or "$" / "0x" hexadecimal (eight digits at most in value,
// read as a 32-bit pattern); anything after the number fails.
bool TryStrToInt(const std::string& S, int32_t& Value);
// Only the letters A to Z (a to z) change.
std::string LowerCase(std::string S);
std::string UpperCase(std::string S);
