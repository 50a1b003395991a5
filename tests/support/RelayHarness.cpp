#include "support/RelayHarness.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/ChildProcess.h"

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

int RunHarnessToEnd(const std::vector<std::string>& Args, std::string& Output, int TimeoutMs) {
  std::vector<std::string> Argv = {std::string(QUILLON_BIN_DIR) + "/quillon-relay"};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  TChildProcess Relay;
  int Fd = -1;
  Output.clear();
  if (!Relay.StartPiped(Argv, Fd)) return -1;
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now());
    pollfd P{Fd, POLLIN, 0};
    if (Left.count() <= 0 || poll(&P, 1, static_cast<int>(Left.count())) <= 0) {
      close(Fd);
      Relay.Stop();
      return -1;
    }
    char Buf[4096];
    const ssize_t N = read(Fd, Buf, sizeof Buf);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;  // the end of its output: it has ended
    Output.append(Buf, static_cast<size_t>(N));
  }
  close(Fd);
  return Relay.Wait();
}

bool WaitForOutput(const TTestEnv& Env, const std::string& File, const std::string& Line, int TimeoutMs) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  do {
    if (Env.ReadFile(File).find(Line + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < End);
  return false;
}
