#include "engine/smtp/SmtpLineEnds.h"

#include <algorithm>

void AppendWireLine(std::string& Out, const std::string& Line) {
  size_t P = Line.find_first_of("\r\n");
  if (P == std::string::npos) {
    Out += Line;
    Out += "\r\n";
    return;
  }
  Out.append(Line, 0, P);
  while (P < Line.size()) {
    const char C = Line[P];
    if (C != '\r' && C != '\n') {
      Out += C;
      ++P;
      continue;
    }
    // One line break: CR LF, a bare CR or a bare LF.
    P += (C == '\r' && P + 1 < Line.size() && Line[P + 1] == '\n') ? 2 : 1;
    if (P == Line.size()) break;  // joins the line's own end
    Out += "\r\n";
    if (Line[P] == '.') Out += '.';
  }
  Out += "\r\n";
}

std::string WithoutLineBreaks(const std::string& S) {
  std::string R = S;
  R.erase(std::remove_if(R.begin(), R.end(), [](char C) { return C == '\r' || C == '\n'; }), R.end());
  return R;
}
