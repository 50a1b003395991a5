#include "engine/smtp/SmtpLineEnds.h"

#include <algorithm>

void AppendWireLine(std::string& Out, const std::string& Line) {
  // The dot the mail client added to a line that began with one is not text.
  size_t P = !Line.empty() && Line[0] == '.' ? 1 : 0;
  for (;;) {
    const size_t E = Line.find_first_of("\r\n", P);
    const size_t End = E == std::string::npos ? Line.size() : E;
    if (End > P && Line[P] == '.') Out += '.';
    Out.append(Line, P, End - P);
    Out += "\r\n";
    if (E == std::string::npos) return;
    // One line break: CR LF, a bare CR or a bare LF.
    P = E + (Line[E] == '\r' && E + 1 < Line.size() && Line[E + 1] == '\n' ? 2 : 1);
    if (P == Line.size()) return;  // joins the line's own end
  }
}

std::string WithoutLineBreaks(const std::string& S) {
  std::string R = S;
  R.erase(std::remove_if(R.begin(), R.end(), [](char C) { return C == '\r' || C == '\n'; }), R.end());
  return R;
}
