#pragma once
// What the SMTP client puts on the wire for a stored line. Stored lines are as the mail
// client sent them: dot-stuffed, and possibly holding a CR or LF of their own. A CR or LF
// must never reach the next hop on its own: there it could end the line (or, before a ".",
// the whole message) at a place the sender never chose.
#include <string>

// Appends the wire form of Line to Out. The text is Line without the mail client's leading
// transparency dot; a bare CR, a bare LF or a CR LF inside it is a line end (one right at
// its end joins the line's own end); every resulting line goes out with CR LF, and one
// that starts with "." gets one "." more. So no line of the text is ever a lone ".".
void AppendWireLine(std::string& Out, const std::string& Line);

// S without any CR or LF (for the parts of a command line such as an address).
std::string WithoutLineBreaks(const std::string& S);
