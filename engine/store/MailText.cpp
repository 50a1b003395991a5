#include "engine/store/MailText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string_view>
#include <utility>

#include "engine/settings/ZQCipher.h"
#include "platform/HexDigit.h"
#include "platform/IniFile.h"

std::string ExtractAddress(const std::string& S) {
  if (S.size() >= 2 && S.front() == '<' && S.back() == '>') return S.substr(1, S.size() - 2);
  return S;
}

std::string ExtractDomain(const std::string& S) {
  std::string A = ExtractAddress(S);
  size_t P = A.find('@');
  if (P == std::string::npos) return std::string();
  return A.substr(P + 1);
}

bool IsValidEmail(const std::string& Address) {
  std::string S = Address;
  if (Trim(S).empty()) return false;
  if (S[0] == '<') S = S.size() >= 2 ? S.substr(1, S.size() - 2) : std::string();
  if (Trim(S).empty()) return false;
  size_t P = S.find('@');
  if (P == std::string::npos) return false;
  if (Trim(S.substr(0, P)).empty()) return false;
  std::string After = S.substr(P + 1);
  return !Trim(After).empty() && After.find('@') == std::string::npos;
}

namespace {

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

bool StartsWithNoCase(const std::string& Line, const char* Prefix, size_t Len) {
  if (Line.size() < Len) return false;
  for (size_t I = 0; I < Len; ++I)
    if (LowerAscii(Line[I]) != Prefix[I]) return false;
  return true;
}

// The first header line of the first 50 lines that starts with Name, with its TAB-led
// continuation lines joined on without a blank.
std::string FindHeader(const std::vector<std::string>& Lines, const char* Name, size_t Len) {
  size_t Limit = Lines.size() < 50 ? Lines.size() : 50;
  for (size_t I = 0; I < Limit; ++I) {
    if (!StartsWithNoCase(Lines[I], Name, Len)) continue;
    std::string Result = Trim(Lines[I].substr(Len));
    for (size_t J = I + 1; J < Lines.size(); ++J) {
      const std::string& L = Lines[J];
      if (L.empty() || L[0] != '\t') break;
      Result += Trim(L.substr(1));
    }
    return Result;
  }
  return std::string();
}

}  // namespace

std::string GetSubjectHeader(const std::vector<std::string>& Lines) { return FindHeader(Lines, "subject:", 8); }

std::string GetFromAddress(const std::vector<std::string>& Lines) {
  std::string T = FindHeader(Lines, "from:", 5);
  size_t Open = T.find('<'), Close = T.find('>');
  if (Open != std::string::npos && Close != std::string::npos)
    T = Close < Open ? std::string() : T.substr(Open + 1, Close - Open - 1);
  return IsValidEmail(T) ? T : std::string();
}

std::string UTF8ToAnsi(const std::string& S) {
  std::string Out;
  Out.reserve(S.size());
  size_t I = 0, N = S.size();
  while (I < N) {
    unsigned char C = static_cast<unsigned char>(S[I]);
    size_t Len;
    uint32_t Min;
    if (C < 0x80) {
      Out += char(C);
      ++I;
      continue;
    } else if ((C & 0xE0) == 0xC0) {
      Len = 2, Min = 0x80;
    } else if ((C & 0xF0) == 0xE0) {
      Len = 3, Min = 0x800;
    } else if ((C & 0xF8) == 0xF0) {
      Len = 4, Min = 0x10000;
    } else {
      Out += '?';
      ++I;
      continue;
    }
    uint32_t CP = C & (0x7F >> Len);
    size_t J = 1;
    for (; J < Len && I + J < N; ++J) {
      unsigned char D = static_cast<unsigned char>(S[I + J]);
      if ((D & 0xC0) != 0x80) break;
      CP = (CP << 6) | (D & 0x3F);
    }
    if (J < Len || CP < Min || CP > 0x10FFFF || (CP >= 0xD800 && CP <= 0xDFFF)) {
      // A broken sequence: one replacement for the bytes it took.
      Out += '?';
      I += J;
      continue;
    }
    Out.append(S, I, Len);
    I += Len;
  }
  return Out;
}

namespace {

// Converters from the charsets of one header to UTF-8, opened once each: a header of many
// encoded words in the same charset opens iconv once.
class TCharsetConverters {
public:
  TCharsetConverters() = default;
  TCharsetConverters(const TCharsetConverters&) = delete;
  TCharsetConverters& operator=(const TCharsetConverters&) = delete;
  ~TCharsetConverters() {
    for (auto& [Name, CD] : FOpen)
      if (CD != Invalid()) iconv_close(CD);
  }

  // Bytes in Charset to UTF-8. False when iconv does not know the charset. Sequences the
  // charset does not allow become "?".
  bool Convert(const std::string& Charset, const std::string& In, std::string& Out) {
    bool Cached = true;
    iconv_t CD = Find(Charset, Cached);
    if (CD == Invalid()) return false;
    iconv(CD, nullptr, nullptr, nullptr, nullptr);  // initial shift state for every word
    Out.clear();
    char Buf[1024];
    char* Src = const_cast<char*>(In.data());
    size_t SrcLeft = In.size();
    while (SrcLeft > 0) {
      char* Dst = Buf;
      size_t DstLeft = sizeof Buf;
      size_t R = iconv(CD, &Src, &SrcLeft, &Dst, &DstLeft);
      Out.append(Buf, size_t(Dst - Buf));
      if (R == size_t(-1) && errno != E2BIG) {
        // A byte the charset does not allow, or a sequence cut short.
        Out += '?';
        ++Src;
        --SrcLeft;
      }
    }
    char* Dst = Buf;
    size_t DstLeft = sizeof Buf;
    iconv(CD, nullptr, nullptr, &Dst, &DstLeft);  // back to the initial shift state
    Out.append(Buf, size_t(Dst - Buf));
    if (!Cached) iconv_close(CD);
    return true;
  }

private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t Find(const std::string& Charset, bool& Cached) {
    for (auto& [Name, CD] : FOpen)
      if (Name == Charset) return CD;
    // A name with a NUL in it names no charset (iconv would read only its start).
    iconv_t CD = Charset.find('\0') == std::string::npos ? iconv_open("UTF-8", Charset.c_str()) : Invalid();
    // A header naming ever new charsets keeps a bounded set open; the rest open per word.
    Cached = FOpen.size() < 16;
    if (Cached) FOpen.emplace_back(Charset, CD);
    return CD;
  }
  std::vector<std::pair<std::string, iconv_t>> FOpen;
};

// The text still to be searched, with room in front of it: decoded text goes back in front
// of the rest in time proportional to its own length, so a header costs time in proportion
// to its length, however many encoded words it holds.
class TRestText {
public:
  explicit TRestText(const std::string& S) : FBuf(S) {}
  std::string_view View() const { return std::string_view(FBuf).substr(FStart); }
  size_t Size() const { return FBuf.size() - FStart; }
  void MoveTo(std::string& Out, size_t N) {
    Out.append(FBuf, FStart, N);
    FStart += N;
  }
  void Drop(size_t N) { FStart += N; }
  void Prepend(const std::string& D) {
    if (D.size() > FStart) {
      // Room for D and as much again as the rest holds, so growing stays linear overall.
      size_t Rest = Size(), Gap = D.size() + Rest;
      std::string B(Gap + Rest, '\0');
      B.replace(Gap, Rest, FBuf, FStart, Rest);
      FBuf.swap(B);
      FStart = Gap;
    }
    FStart -= D.size();
    FBuf.replace(FStart, D.size(), D);
  }

private:
  std::string FBuf;
  size_t FStart = 0;
};

bool SameAscii(const std::string& A, const char* B) {
  size_t I = 0;
  for (; I < A.size() && B[I]; ++I)
    if (LowerAscii(A[I]) != LowerAscii(B[I])) return false;
  return I == A.size() && !B[I];
}

int Base64Index(char C) {
  if (C >= 'A' && C <= 'Z') return C - 'A';
  if (C >= 'a' && C <= 'z') return C - 'a' + 26;
  if (C >= '0' && C <= '9') return C - '0' + 52;
  if (C == '+') return 62;
  if (C == '/') return 63;
  return 0;
}

void RemoveNuls(std::string& S) { std::erase(S, '\0'); }

}  // namespace

bool CharsetToUTF8(const std::string& Charset, const std::string& In, std::string& Out) {
  TCharsetConverters Converter;
  std::string Converted;
  if (!Converter.Convert(Charset, In, Converted)) return false;
  Out = std::move(Converted);
  return true;
}

std::string DecodeHeader(const std::string& Text) {
  // The text works as one string S that is changed in place: Out is the part of S before
  // the search position, which is never looked at again, Rest the part from it on.
  constexpr size_t npos = std::string_view::npos;
  std::string Out;
  TRestText Rest(Text);
  TCharsetConverters Converters;
  // The last NoMark characters of Rest hold no "?", and no "?=" begins in the last NoClose.
  // Decoding only changes Rest in front of these, so no search looks at them twice.
  size_t NoMark = 0, NoClose = 0;
  for (;;) {
    std::string_view V = Rest.View();
    size_t P = V.find("=?");
    if (P == npos) break;
    Rest.MoveTo(Out, P);
    V = Rest.View();
    NoMark = std::min(NoMark, V.size());
    NoClose = std::min(NoClose, V.size());
    auto FindMark = [&](size_t From) {
      size_t Limit = V.size() - NoMark;
      size_t R = From < Limit ? V.substr(0, Limit).find('?', From) : npos;
      if (R == npos) NoMark = std::max(NoMark, V.size() - std::min(From, V.size()));
      return R;
    };
    auto FindClose = [&](size_t From) {
      size_t Limit = V.size() - NoClose;
      size_t R = From < Limit ? V.substr(0, Limit + 1).find("?=", From) : npos;
      if (R == npos) NoClose = std::max(NoClose, V.size() - std::min(From, V.size()));
      return R;
    };
    // The charset name is taken to have at least three characters.
    size_t Q1 = FindMark(5);
    size_t Q2 = Q1 == npos ? npos : FindMark(Q1 + 1);
    size_t E = Q2 == npos ? npos : FindClose(Q2 + 1);
    if (E != npos) {
      std::string Charset(V.substr(2, Q1 - 2));
      char Encoding = V[Q1 + 1];
      std::string Decoded;
      if (Encoding == 'Q' || Encoding == 'q') {
        for (size_t I = Q2 + 1; I < E; ++I) {
          char C = V[I];
          if (C == '_') {
            Decoded += ' ';
          } else if (C == '=' && I + 3 <= E) {
            // Two digits plus the closing "?=" follow.
            int Hi = HexDigitValue(V[I + 1]), Lo = HexDigitValue(V[I + 2]);
            if (Hi < 0 || Lo < 0)
              throw EConvertError("'" + std::string(V.substr(I + 1, 2)) + "' is not a valid integer value");
            Decoded += char(Hi * 16 + Lo);
            I += 2;
          } else {
            Decoded += C;
          }
        }
      } else {
        // Groups of four from the start; a group may reach into the closing "?=".
        for (size_t I = Q2 + 1; I < E && I + 3 <= E + 1; I += 4) {
          uint32_t W = 0;
          for (size_t K = 0; K < 4; ++K) W = (W << 6) | uint32_t(Base64Index(V[I + K]));
          Decoded += char((W >> 16) & 0xFF);
          Decoded += char((W >> 8) & 0xFF);
          Decoded += char(W & 0xFF);
        }
      }
      if (SameAscii(Charset, "utf-8")) {
        Decoded = UTF8ToAnsi(Decoded);
      } else {
        // Padding NULs would upset a stateful charset; they go in the end anyway.
        RemoveNuls(Decoded);
        std::string Converted;
        if (Converters.Convert(Charset, Decoded, Converted)) Decoded = Converted;
      }
      RemoveNuls(Decoded);
      Rest.Drop(E + 2);
      NoMark = std::min(NoMark, Rest.Size());
      NoClose = std::min(NoClose, Rest.Size());
      Rest.Prepend(Decoded);
    }
    // The next "=?" is looked for from the character after P, in the decoded text as well.
    if (Rest.Size() > 0) Rest.MoveTo(Out, 1);
  }
  Out.append(Rest.View());
  RemoveNuls(Out);
  return Out;
}
