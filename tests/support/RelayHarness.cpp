#include "support/RelayHarness.h"

#include <chrono>
#include <cstdio>
#include <thread>

std::string RegistryDword(const char* Name, int V) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "\"%s\"=dword:%08x\r\n", Name, V);
  return Buf;
}

void WriteHarnessRegistry(const TTestEnv& Env, int Port, const std::string& Dns, const std::string& Extra) {
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n" + RegistryDword("SMTPPort", Port) +
                    RegistryDword("AutoDetectDNS", 0) + "\"DNSPrimary\"=\"" + Dns + "\"\r\n\"DNSSecondary\"=\"" + Dns +
                    "\"\r\n" + Extra + "\r\n");
}

bool WaitForOutput(const TTestEnv& Env, const std::string& File, const std::string& Line, int TimeoutMs) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  do {
    if (Env.ReadFile(File).find(Line + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < End);
  return false;
}
