#include "platform/ResolvConf.h"

#include <arpa/inet.h>

#include <algorithm>
#include <fstream>
#include <sstream>

std::vector<std::string> ReadResolvConfNameservers(const std::string& Path) {
  std::vector<std::string> Result;
  std::ifstream In(Path);
  std::string Line;
  while (std::getline(In, Line)) {
    std::istringstream Words(Line);
    std::string Keyword, Address;
    if (!(Words >> Keyword) || Keyword != "nameserver" || !(Words >> Address)) continue;
    in_addr A{};
    if (inet_pton(AF_INET, Address.c_str(), &A) != 1) continue;  // IPv6 and junk are left out
    if (std::find(Result.begin(), Result.end(), Address) == Result.end()) Result.push_back(Address);
  }
  return Result;
}
