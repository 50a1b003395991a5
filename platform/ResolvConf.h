#pragma once
// The DNS servers the machine is configured with: the IPv4 "nameserver" lines of
// resolv.conf, in file order, each once.
#include <string>
#include <vector>

std::vector<std::string> ReadResolvConfNameservers(const std::string& Path = "/etc/resolv.conf");
