// Mail intake over loopback: K concurrent clients send N messages of a given size to a
// running receiver with the real, durable mail store. Prints messages accepted per second
// and the mean time from the end line of DATA to "250 OK".
//
//   receiver_bench [messages=2000] [size=10240] [sessions=1,3,10] [store=real|null]
//
// "null" swaps the store for one that keeps nothing, which shows what the dialogue and the
// socket layer cost on their own.
// Two modes per session count: a new SMTP session per message (as Postfix's smtp-source
// does by default) and one session per client for all its messages (smtp-source -d).
// When Postfix's smtp-source is installed, it drives the receiver too:
//   smtp-source -s K -l SIZE -m N -f bench@client.test -t rcpt@dest.test 127.0.0.1:PORT
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchData.h"
#include "engine/net/SocketErrors.h"
#include "engine/net/TcpConnection.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/LoopbackSockets.h"
#include "support/RecordingStore.h"

namespace {
using TClock = std::chrono::steady_clock;

std::string MakeBody(size_t Size) {
  std::string B = "From: bench@client.test\r\nTo: rcpt@dest.test\r\nSubject: bench message\r\n\r\n";
  const std::string Line(76, 'x');
  while (B.size() + Line.size() + 2 < Size) B += Line + "\r\n";
  B += std::string(Size > B.size() + 2 ? Size - B.size() - 2 : 0, 'y') + "\r\n";
  return B;
}

struct TResult {
  std::atomic<int> Accepted{0}, Refused{0};
  std::mutex Lock;
  double LatencySum = 0;
};

bool Expect(TTcpConnection& C, const char* Code) { return C.ReadLn(10000).compare(0, 3, Code) == 0; }

// One message on an open session: MAIL, RCPT, DATA, body, end line.
void SendOne(TTcpConnection& C, const std::string& Body, TResult& R) {
  C.WriteLn("MAIL FROM:<bench@client.test>");
  if (!Expect(C, "250")) throw std::runtime_error("MAIL refused");
  C.WriteLn("RCPT TO:<rcpt@dest.test>");
  if (!Expect(C, "250")) throw std::runtime_error("RCPT refused");
  C.WriteLn("DATA");
  if (!Expect(C, "354")) throw std::runtime_error("DATA refused");
  C.Write(Body);
  const auto T0 = TClock::now();
  C.Write(std::string(".\r\n"));
  const bool Ok = Expect(C, "250");
  const std::chrono::duration<double, std::milli> Took = TClock::now() - T0;
  if (!Ok) {
    ++R.Refused;
    return;
  }
  ++R.Accepted;
  std::lock_guard<std::mutex> L(R.Lock);
  R.LatencySum += Took.count();
}

std::unique_ptr<TTcpConnection> Open(int Port, TResult& R) {
  for (;;) {
    auto C = TTcpConnection::Connect("127.0.0.1", Port, 5000);
    const std::string G = C->ReadLn(10000);
    if (G.compare(0, 3, "220") == 0) {
      C->WriteLn("EHLO client.test");
      C->ReadLn(10000);
      C->ReadLn(10000);
      return C;
    }
    ++R.Refused;  // no free slot: try again
  }
}

void RunOnce(int Port, int Messages, int Sessions, bool Reuse, const std::string& Body) {
  TResult R;
  std::atomic<int> Next{0};
  const auto T0 = TClock::now();
  std::vector<std::thread> Threads;
  for (int S = 0; S < Sessions; ++S)
    Threads.emplace_back([&] {
      try {
        std::unique_ptr<TTcpConnection> C;
        while (Next.fetch_add(1) < Messages) {
          if (!C) C = Open(Port, R);
          SendOne(*C, Body, R);
          if (!Reuse) {
            C->WriteLn("QUIT");
            C->ReadLn(10000);
            C.reset();
          }
        }
        if (C) {
          C->WriteLn("QUIT");
          C->ReadLn(10000);
        }
      } catch (const std::exception& E) {
        std::fprintf(stderr, "client failed: %s\n", E.what());
      }
    });
  for (auto& T : Threads) T.join();
  const std::chrono::duration<double> Took = TClock::now() - T0;
  const int A = R.Accepted;
  std::printf("%-22s K=%-3d %6d accepted %4d refused  %8.2f s  %9.1f msg/s  %7.3f ms mean end-line-to-250\n",
              Reuse ? "one session per client" : "one session per mail", Sessions, A, R.Refused.load(), Took.count(),
              A / Took.count(), A ? R.LatencySum / A : 0.0);
  std::fflush(stdout);
}

// Postfix's load generator against the receiver; the store counts what arrived.
void RunSmtpSource(int Port, int Messages, int Sessions, size_t Size, TMailStore& Store, const std::string& Out) {
  const std::string Cmd = "smtp-source -s " + std::to_string(Sessions) + " -l " + std::to_string(Size) + " -m " +
                          std::to_string(Messages) + " -f bench@client.test -t rcpt@dest.test 127.0.0.1:" +
                          std::to_string(Port) + " >" + Out + " 2>&1";
  const auto T0 = TClock::now();
  const int Rc = std::system(Cmd.c_str());
  const std::chrono::duration<double> Took = TClock::now() - T0;
  // The null store keeps no count: a clean exit means every message was accepted.
  int Stored = Store.GetMailCount(TMailKindSet{0, 1, 2, 3}, TMailStateSet{msWaiting});
  if (dynamic_cast<TRecordingStore*>(&Store) && Rc == 0) Stored = Messages;
  std::printf("%-22s K=%-3d %6d accepted exit %d     %8.2f s  %9.1f msg/s\n", "smtp-source", Sessions, Stored, Rc,
              Took.count(), Stored / Took.count());
  if (Rc != 0) {
    // Its complaints, e.g. a refusal when every connection slot was taken at that instant.
    std::string Text, Line;
    std::ifstream In(Out);
    for (int N = 0; N < 5 && std::getline(In, Line); ++N) Text += "    " + Line + "\n";
    std::printf("%s", Text.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int Messages = argc > 1 ? std::stoi(argv[1]) : 2000;
  const size_t Size = argc > 2 ? std::stoul(argv[2]) : 10240;
  const std::vector<int> Sessions = ParseList(argc > 3 ? argv[3] : "1,3,10");
  const bool RealStore = !(argc > 4 && std::string(argv[4]) == "null");
  std::string Tmpl = (std::filesystem::temp_directory_path() / "quillon-rcvbench-XXXXXX").string();
  if (!mkdtemp(Tmpl.data())) return 1;
  InitConstants();
  MaxStoredMails = 1 << 30;  // measure intake, not the store's limit
  LocalUserOnly = true;
  SMTPMaxConnections = 10;
  SMTPMultiIPBind = true;
  const std::string Body = MakeBody(Size);
  std::printf("receiver intake: %d messages of %zu bytes, %s\n", Messages, Body.size(),
              RealStore ? ("real store in " + Tmpl).c_str() : "null store");
  int Run = 0;
  const bool HaveSmtpSource = std::system("command -v smtp-source >/dev/null 2>&1") == 0;
  for (const int Mode : {0, 1, 2})
    for (const int K : Sessions) {
      const bool Reuse = Mode == 1;
      if (Mode == 2 && !HaveSmtpSource) break;
      // A fresh data folder and store for every run.
      DataDir = Tmpl + "/run" + std::to_string(++Run) + "/";
      std::filesystem::create_directories(DataDir.get());
      const int Port = FreeLoopbackPort();
      SMTPMultiIPBinds = "127.0.0.1:" + std::to_string(Port);
      {
        std::unique_ptr<TMailStore> Store;
        if (RealStore)
          Store = std::make_unique<TMemoryMailStore>();
        else
        {
          auto Null = std::make_unique<TRecordingStore>();
          Null->KeepMails = false;
          Store = std::move(Null);
        }
        TMailReceiver Receiver(Store.get());
        Receiver.Start();
        if (Mode == 2)
          RunSmtpSource(Port, Messages, K, Size, *Store, Tmpl + "/smtp-source.out");
        else
          RunOnce(Port, Messages, K, Reuse, Body);
        Receiver.Stop();
      }
      std::filesystem::remove_all(DataDir.get());
    }
  std::filesystem::remove_all(Tmpl);
  return 0;
}
