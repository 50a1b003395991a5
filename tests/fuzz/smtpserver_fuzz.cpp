// The SMTP server dialogue with the mail receiver behind it, fed one client connection per
// input: commands, the data phase, AUTH lines, line ends of any kind, an end in the middle.
// Accepted messages go through the receiver's checks (sender, attachment filter, subject)
// into a store that drops them. Byte 0 picks the options, the rest is the client's stream.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "engine/receiver/MailReceiver.h"
#include "engine/settings/VexaBase.h"
#include "tests/support/RecordingStore.h"

namespace {

// Keeps no mail; checks what the receiver made of each.
class TDroppingStore : public TRecordingStore {
public:
  TDroppingStore() { KeepMails = false; }
  bool AddMail(TMailData& Mail) override {
    if (Mail.Subject.size() > 80 || Mail.Recipients.empty()) abort();
    return TRecordingStore::AddMail(Mail);
  }
};

struct TFixture {
  TDroppingStore Store;
  TMailReceiver Receiver{&Store};
  int Port = 0;
  TFixture() {
    SMTPMultiIPBind = true;
    SMTPMultiIPBinds = "127.0.0.1:0";
    SMTPMaxConnections = 4;
    LocalUserOnly = true;
    SMTPLoginUsername = "user";
    SMTPLoginPassword = "secret";
    MaxStoredMails = 1000;
    // Failed logins wait, but not long enough to slow the fuzzing down.
    Receiver.Server.AuthFailureDelay = 5;
    Receiver.Start();
    Port = Receiver.Server.BoundPorts().at(0);
  }
};

TFixture& Fixture() {
  static TFixture* F = new TFixture();  // lives as long as the process
  return *F;
}

int Connect(int Port) {
  const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(static_cast<uint16_t>(Port));
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (Fd < 0) abort();
  while (connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    if (errno == EISCONN) break;
    if (errno != EINTR && errno != EALREADY) abort();
    pollfd P{Fd, POLLOUT, 0};
    poll(&P, 1, 100);
  }
  return Fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  TFixture& F = Fixture();
  const uint8_t O = Data[0];
  F.Receiver.Server.RequireAuth = (O & 1) != 0;
  SMTPAUthLogin = (O & 1) != 0;
  F.Receiver.UseAttachmentFilter = (O & 2) != 0;
  F.Receiver.BlockedExts = {"exe", "com", "", "tar.gz"};
  F.Receiver.Server.AddReceivedHeader = (O & 4) != 0;
  F.Receiver.FromCheck = (O & 8) != 0;
  F.Receiver.FromDenyList = {"bad@example.com", "example.net"};
  F.Store.FailAdd = (O & 16) != 0;
  F.Store.WaitingCount = (O & 32) ? 5000 : 0;

  const int Fd = Connect(F.Port);
  const std::string Stream(reinterpret_cast<const char*>(Data + 1), Size - 1);
  std::thread Writer([Fd, &Stream] {
    size_t Done = 0;
    while (Done < Stream.size()) {
      const ssize_t N = send(Fd, Stream.data() + Done, Stream.size() - Done, MSG_NOSIGNAL);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) break;
      Done += static_cast<size_t>(N);
    }
    shutdown(Fd, SHUT_WR);
  });
  // The server must end the connection once the client's stream has ended. (libFuzzer's
  // timer signal interrupts the waits here now and then.)
  char Buf[65536];
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    pollfd P{Fd, POLLIN, 0};
    const int R = poll(&P, 1, 100);
    if (R < 0 && errno != EINTR) abort();
    if (R > 0) {
      const ssize_t N = read(Fd, Buf, sizeof Buf);
      if (N == 0 || (N < 0 && errno != EINTR)) break;
    } else if (std::chrono::steady_clock::now() > Deadline) {
      fprintf(stderr, "server kept the connection open after the client's end\n");
      abort();
    }
  }
  Writer.join();
  close(Fd);
  // Its thread ends as well.
  const auto Ended = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (F.Receiver.Server.ConnectionCount() != 0) {
    if (std::chrono::steady_clock::now() > Ended) {
      fprintf(stderr, "connection thread still running\n");
      abort();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return 0;
}
