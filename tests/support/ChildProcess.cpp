#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
// Runs Argv in a new child with OutFd as its standard output and error; the child's pid.
pid_t Spawn(const std::vector<std::string>& Argv, int OutFd, int CloseFd) {
  std::vector<char*> Args;
  for (const auto& A : Argv) Args.push_back(const_cast<char*>(A.c_str()));
  Args.push_back(nullptr);
  const pid_t Pid = fork();
  if (Pid == 0) {
    if (CloseFd >= 0) close(CloseFd);
    if (OutFd >= 0) {
      dup2(OutFd, 1);
      dup2(OutFd, 2);
    }
    execvp(Args[0], Args.data());
    _exit(127);
  }
  return Pid;
}
}  // namespace

bool TChildProcess::Start(const std::vector<std::string>& Argv, const std::string& LogFile) {
  Stop();
  const int Out = open(LogFile.empty() ? "/dev/null" : LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t Pid = Spawn(Argv, Out, -1);
  if (Out >= 0) close(Out);
  if (Pid < 0) return false;
  FPid = Pid;
  // A program that cannot be run ends at once with 127.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Running();
}

bool TChildProcess::StartPiped(const std::vector<std::string>& Argv, int& ReadFd) {
  Stop();
  int P[2];
  if (pipe2(P, O_CLOEXEC) != 0) return false;
  const pid_t Pid = Spawn(Argv, P[1], P[0]);
  close(P[1]);
  if (Pid < 0) {
    close(P[0]);
    return false;
  }
  FPid = Pid;
  ReadFd = P[0];
  return true;
}

bool TChildProcess::Running() {
  if (FPid <= 0) return false;
  int Status = 0;
  if (waitpid(FPid, &Status, WNOHANG) == 0) return true;
  FPid = -1;
  return false;
}

int TChildProcess::Stop(int TimeoutMs) {
  if (FPid <= 0) return -1;
  kill(FPid, SIGTERM);
  int Status = 0;
  auto Code = [&] { return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status); };
  for (int Waited = 0; Waited < TimeoutMs; Waited += 10) {
    if (waitpid(FPid, &Status, WNOHANG) != 0) {
      FPid = -1;
      return Code();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(FPid, SIGKILL);
  waitpid(FPid, &Status, 0);
  FPid = -1;
  return Code();
}

int TChildProcess::Wait() {
  if (FPid <= 0) return -1;
  int Status = 0;
  waitpid(FPid, &Status, 0);
  FPid = -1;
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

int TChildProcess::Run(const std::vector<std::string>& Argv, const std::string& LogFile, int TimeoutMs) {
  Stop();
  const int Out = open(LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t Pid = Spawn(Argv, Out, -1);
  if (Out >= 0) close(Out);
  if (Pid < 0) return -1;
  FPid = Pid;
  int Status = 0;
  for (auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
       std::chrono::steady_clock::now() < End; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    if (waitpid(FPid, &Status, WNOHANG) == FPid) {
      FPid = -1;
      return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    }
  }
  Stop();
  return -1;
}

bool ProgramAvailable(const std::string& Name) {
  const char* Path = std::getenv("PATH");
  std::string P = Path ? Path : "/usr/bin:/bin";
  P += ":/usr/sbin:/sbin";
  size_t Pos = 0;
  while (Pos <= P.size()) {
    const size_t C = P.find(':', Pos);
    const std::string Dir = P.substr(Pos, C == std::string::npos ? std::string::npos : C - Pos);
    if (!Dir.empty() && access((Dir + "/" + Name).c_str(), X_OK) == 0) return true;
    if (C == std::string::npos) break;
    Pos = C + 1;
  }
  return false;
}

