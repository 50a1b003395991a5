// Big messages into the receiver and the real, durable mail store: for each message the
// rise of the process's peak memory (VmHWM over the resident size before the message) and
// the intake rate from the first DATA line to "250 OK". Messages are lines of 76 characters
// (an attachment), sent in 64 KB writes, so the client itself holds almost nothing. Each
// message runs in a process of its own, so that no run inherits another's heap.
//
//   big_message_bench [sizes in MB=1,25,100] [recipients=1,10,100]
//
// Each size goes to each number of recipients; the store keeps one message file per
// recipient. "250 after" is the time to the reply, "files after" the time until every
// recipient's files are written; the peak covers both.
//
// Two more runs show what the server refuses without holding it: a message over the
// 100 MB limit, and 20 MB of empty lines (each line counts at least 32 bytes).
// MB here is 10^6 bytes.
#include <malloc.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/net/TcpConnection.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"

namespace {
using TClock = std::chrono::steady_clock;
constexpr double MB = 1e6;

// A field of /proc/self/status in kB.
long StatusKB(const char* Field) {
  std::ifstream In("/proc/self/status");
  const std::string Want = std::string(Field) + ":";
  for (std::string Line; std::getline(In, Line);)
    if (Line.compare(0, Want.size(), Want) == 0) return std::stol(Line.substr(Want.size()));
  return -1;
}

// Starts a new peak from the current resident size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct TCase {
  std::string Name;
  size_t Bytes;       // message text on the wire, CR LF included
  size_t LineLength;  // characters per line
  int Recipients = 1;
};

// Sends one message of C's shape; the reply to its end line.
std::string SendMessage(int Port, const TCase& C) {
  auto Conn = TTcpConnection::Connect("127.0.0.1", Port, 5000);
  Conn->ReadLn(10000);
  std::vector<std::string> Cmds = {"HELO bench.test", "MAIL FROM:<bench@client.test>"};
  for (int R = 1; R <= C.Recipients; ++R) Cmds.push_back("RCPT TO:<rcpt" + std::to_string(R) + "@dest.test>");
  Cmds.push_back("DATA");
  for (const auto& Cmd : Cmds) {
    Conn->WriteLn(Cmd);
    Conn->ReadLn(10000);
  }
  const std::string Head = "From: bench@client.test\r\nSubject: big message\r\n\r\n";
  const std::string Line = std::string(C.LineLength, 'x') + "\r\n";
  std::string Chunk;
  while (Chunk.size() + Line.size() <= 65536) Chunk += Line;
  Conn->Write(Head);
  size_t Sent = Head.size();
  while (Sent + Chunk.size() <= C.Bytes) {
    Conn->Write(Chunk);
    Sent += Chunk.size();
  }
  while (Sent + Line.size() <= C.Bytes) {
    Conn->Write(Line);
    Sent += Line.size();
  }
  Conn->Write(std::string(".\r\n"));
  const std::string Reply = Conn->ReadLn(600000);
  Conn->WriteLn("QUIT");
  return Reply;
}

// One message in this (child) process; prints its line.
int RunCase(const TCase& C, const std::string& Dir) {
  DataDir = Dir + "/";
  std::filesystem::create_directories(Dir);
  TMemoryMailStore Store;
  TMailReceiver Receiver(&Store);
  Receiver.Start();
  const int Port = Receiver.Server.BoundPorts().at(0);
  malloc_trim(0);
  const long Before = StatusKB("VmRSS");
  ResetPeak();
  const auto T0 = TClock::now();
  const std::string Reply = SendMessage(Port, C);
  const std::chrono::duration<double> Took = TClock::now() - T0;
  Store.WaitForDisk();
  const std::chrono::duration<double> Files = TClock::now() - T0;
  const long Peak = StatusKB("VmHWM");
  Receiver.Stop();
  const double Rise = (Peak - Before) * 1024.0;
  std::printf("%-26s %8.1f MB  %4d rcpt  250 after %7.2f s  %8.1f MB/s  files after %7.2f s  peak +%7.1f MB  (%4.2fx the message)  %s\n",
              C.Name.c_str(), C.Bytes / MB, C.Recipients, Took.count(), C.Bytes / MB / Took.count(), Files.count(),
              Rise / MB, Rise / C.Bytes, Reply.substr(0, 3).c_str());
  std::fflush(stdout);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<TCase> Cases;
  std::vector<int> Counts;
  std::stringstream Rcpts(argc > 2 ? argv[2] : "1,10,100");
  for (std::string S; std::getline(Rcpts, S, ',');) Counts.push_back(std::stoi(S));
  std::stringstream Sizes(argc > 1 ? argv[1] : "1,25,100");
  for (std::string S; std::getline(Sizes, S, ',');)
    for (int N : Counts) Cases.push_back({S + " MB of 76-char lines", static_cast<size_t>(std::stod(S) * MB), 76, N});
  Cases.push_back({"over the limit (refused)", static_cast<size_t>(110 * MB), 76});
  Cases.push_back({"20 MB of empty lines", static_cast<size_t>(20 * MB), 0});

  std::string Tmpl = (std::filesystem::temp_directory_path() / "quillon-bigbench-XXXXXX").string();
  if (!mkdtemp(Tmpl.data())) return 1;
  InitConstants();
  LocalUserOnly = true;
  SMTPMultiIPBind = true;
  SMTPMultiIPBinds = "127.0.0.1:0";
  SMTPRcptLimit = false;
  std::printf("big messages into the receiver and the real store (peak: VmHWM over VmRSS before the message)\n");
  std::fflush(stdout);
  int Run = 0;
  for (const auto& C : Cases) {
    const std::string Dir = Tmpl + "/run" + std::to_string(++Run);
    const pid_t Pid = fork();
    if (Pid == 0) _exit(RunCase(C, Dir));
    int Status = 0;
    waitpid(Pid, &Status, 0);
    if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) std::printf("%-26s failed\n", C.Name.c_str());
    std::filesystem::remove_all(Dir);
  }
  std::filesystem::remove_all(Tmpl);
  return 0;
}
