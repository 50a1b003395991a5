#pragma once
// What the SMTP client puts on the wire for a stored line. A CR or LF inside a line must
// never reach the next hop on its own: there it could end the line (or, before a ".", the
// whole message) at a place the sender never chose.
#include <string>

// Appends Line and its CR LF to Out. A bare CR, a bare LF or a CR LF inside the line
// becomes one CR LF, and a line begun that way whose text starts with "." gets a second
// "." (it was never a line start for the mail client, so it was never dot-stuffed); a CR
// right before the line's own end joins that end.
void AppendWireLine(std::string& Out, const std::string& Line);

// S without any CR or LF (for the parts of a command line such as an address).
std::string WithoutLineBreaks(const std::string& S);
