#pragma once
// How a DNS server setting (from the options or the system's resolv.conf) becomes what the
// resolver library is handed: an address, never a name (a name would need a lookup of
// its own before every query).
#include <string>

// c-ares' server-list form of an address: an IPv4 literal as it is, an IPv6 literal (bare
// or in brackets, with or without a ":port" behind the brackets) as "[addr]:port", port 53
// unless given. Empty for anything that is not an IP literal.
std::string DNSServerCsv(const std::string& Server);

// DNSServerCsv of Server, a host name first resolved through the system (its first IPv4
// address, else its first IPv6 one). Empty, with Error set, when the server cannot be
// used; empty without an error for a blank server.
std::string ResolveDNSServer(const std::string& Server, std::string& Error);
