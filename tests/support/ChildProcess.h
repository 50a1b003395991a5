#pragma once
// A helper program that a test starts on loopback (a SOCKS server, an MTA) and ends again
// by its process id.
#include <string>
#include <sys/types.h>
#include <vector>

class TChildProcess {
public:
  TChildProcess() = default;
  ~TChildProcess() { Stop(); }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Starts Argv[0] (searched in PATH) with its output sent to LogFile (or discarded).
  // False when the program cannot be started.
  bool Start(const std::vector<std::string>& Argv, const std::string& LogFile = std::string());
  // The same with the child's standard output in a pipe; ReadFd is its reading end, which
  // the caller closes.
  bool StartPiped(const std::vector<std::string>& Argv, int& ReadFd);
  // SIGTERM to our child, then SIGKILL when it has not ended within TimeoutMs; reaps it.
  // Answers the exit status (128 + signal for a child ended by a signal, -1 for none).
  int Stop(int TimeoutMs = 1000);
  // Waits for the child to end by itself; its exit status as Stop answers it.
  int Wait();
  // Runs Argv to its end with its output sent to LogFile: its exit status as Stop answers
  // it, or -1 when it was still running after TimeoutMs (it is then stopped).
  int Run(const std::vector<std::string>& Argv, const std::string& LogFile, int TimeoutMs);
  pid_t Pid() const { return FPid; }
  bool Running();  // reaps a child that has ended

private:
  pid_t FPid = -1;
};

// True when the program is found in PATH.
bool ProgramAvailable(const std::string& Name);
