#pragma once
// A private Postfix instance for side-by-side figures: configuration and queue of its own
// under Root, smtpd on 127.0.0.1 only, its smtp transport deferred (mail stays queued, on
// disk as Postfix keeps it) and a relay host for when the deferral is lifted. Needs root,
// postfix and smtp-source.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/LoopbackSockets.h"

// Runs a command to its end; its exit status (-1 when it could not run).
inline int RunCommand(const std::vector<std::string>& Argv) {
  TChildProcess P;
  int Fd = -1;
  if (!P.StartPiped(Argv, Fd)) return -1;
  FILE* Out = fdopen(Fd, "r");
  char Buf[1024];
  while (std::fgets(Buf, sizeof Buf, Out)) {
  }
  std::fclose(Out);
  return P.Wait();
}

inline size_t CountFiles(const std::string& Dir) {
  size_t N = 0;
  std::error_code Ec;
  for (auto It = std::filesystem::recursive_directory_iterator(Dir, Ec); !Ec && It != std::filesystem::end(It);
       It.increment(Ec))
    if (It->is_regular_file(Ec)) ++N;
  return N;
}

class TPrivatePostfix {
public:
  std::string Root, Etc, Queue;
  int Port = 0;

  TPrivatePostfix() = default;
  TPrivatePostfix(const TPrivatePostfix&) = delete;
  TPrivatePostfix& operator=(const TPrivatePostfix&) = delete;
  ~TPrivatePostfix() { Stop(); }

  // Starts the instance in Root (a fresh folder ending in "/"); false with Why set.
  bool Start(const std::string& RootDir, const std::string& RelayIP, std::string& Why) {
    if (geteuid() != 0 || !ProgramAvailable("postfix") || !ProgramAvailable("smtp-source")) {
      Why = "needs root, postfix and smtp-source";
      return false;
    }
    Root = RootDir;
    Etc = Root + "etc";
    Queue = Root + "queue";
    const std::string Data = Root + "data";
    for (const auto& D : {Etc, Queue, Data}) std::filesystem::create_directories(D);
    namespace fs = std::filesystem;
    fs::permissions(Root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    if (RunCommand({"chown", "postfix", Data}) != 0) {
      Why = "no postfix user";
      return false;
    }
    Port = FreeLoopbackPort();
    std::ofstream(Etc + "/main.cf") << "compatibility_level = 3.6\nqueue_directory = " << Queue
                                    << "\ndata_directory = " << Data
                                    << "\ncommand_directory = /usr/sbin\ndaemon_directory = /usr/lib/postfix/sbin\n"
                                       "meta_directory = /etc/postfix\nshlib_directory = /usr/lib/postfix\n"
                                       "mail_owner = postfix\nsetgid_group = postdrop\n"
                                       "inet_interfaces = loopback-only\ninet_protocols = ipv4\n"
                                       "myhostname = bench.localdomain\nmydestination =\nmynetworks = 127.0.0.0/8\n"
                                       "relayhost = ["
                                    << RelayIP
                                    << "]:25\nsmtp_dns_support_level = disabled\ndefer_transports = smtp\n"
                                       "smtpd_recipient_restrictions = permit_mynetworks, reject\n"
                                       "alias_maps =\nalias_database =\nlocal_recipient_maps =\nbiff = no\n"
                                       "maillog_file_prefixes = "
                                    << Root << "\nmaillog_file = " << Root << "maillog\n";
    std::ofstream M(Etc + "/master.cf");
    M << "127.0.0.1:" << Port << " inet n - n - - smtpd\n";
    for (const char* L :
         {"pickup unix n - n 60 1 pickup", "cleanup unix n - n - 0 cleanup", "qmgr unix n - n 300 1 qmgr",
          "rewrite unix - - n - - trivial-rewrite", "bounce unix - - n - 0 bounce", "defer unix - - n - 0 bounce",
          "trace unix - - n - 0 bounce", "verify unix - - n - 1 verify", "flush unix n - n 1000? 0 flush",
          "proxymap unix - - n - - proxymap", "smtp unix - - n - - smtp", "relay unix - - n - - smtp",
          "showq unix n - n - - showq", "error unix - - n - - error", "retry unix - - n - - error",
          "discard unix - - n - - discard", "anvil unix - - n - 1 anvil", "scache unix - - n - 1 scache",
          "postlog unix-dgram n - n - 1 postlogd"})
      M << L << "\n";
    M.close();
    if (RunCommand({"postfix", "-c", Etc, "start"}) != 0 || !WaitForListener("127.0.0.1", Port, 10000)) {
      Why = "the private instance did not start (see " + Root + "maillog)";
      return false;
    }
    std::ifstream(Queue + "/pid/master.pid") >> FMaster;
    return true;
  }

  // Mails on their way through or waiting in the queue.
  size_t Queued() const {
    return CountFiles(Queue + "/incoming") + CountFiles(Queue + "/active") + CountFiles(Queue + "/deferred") +
           CountFiles(Queue + "/maildrop");
  }

  void Stop() {
    if (FMaster <= 0) return;
    kill(FMaster, SIGTERM);
    for (int I = 0; I < 1000 && kill(FMaster, 0) == 0; ++I) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    FMaster = 0;
  }

private:
  pid_t FMaster = 0;
};
