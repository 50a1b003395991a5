#pragma once
// The machine's host name and its IPv4 addresses.
#include <string>
#include <vector>

std::string GetLocalHostName();
// Every IPv4 address of the machine's network interfaces (loopback included), as dotted quads.
std::vector<std::string> GetLocalIPv4Addresses();
