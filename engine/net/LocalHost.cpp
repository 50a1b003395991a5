#include "engine/net/LocalHost.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>

std::string GetLocalHostName() {
  char Buf[256] = {};
  if (gethostname(Buf, sizeof Buf - 1) != 0) return "localhost";
  return Buf;
}

std::vector<std::string> GetLocalIPv4Addresses() {
  std::vector<std::string> R;
  ifaddrs* List = nullptr;
  if (getifaddrs(&List) != 0) return R;
  for (ifaddrs* I = List; I; I = I->ifa_next) {
    if (!I->ifa_addr || I->ifa_addr->sa_family != AF_INET) continue;
    char Buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(I->ifa_addr)->sin_addr, Buf, sizeof Buf);
    if (std::find(R.begin(), R.end(), Buf) == R.end()) R.push_back(Buf);
  }
  freeifaddrs(List);
  return R;
}
