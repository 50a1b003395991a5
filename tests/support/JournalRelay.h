#pragma once
// A fixture for the mail journal seen from outside: quillon-relay run as its own process
// (as root or as another user), its mail clients, its index files read back, a small disk
// of its own for the data folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/store/MailData.h"
#include "support/ChildProcess.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

// A small tmpfs of its own on Dir, taken away again at the end of the scope.
class TSmallDisk {
public:
  TSmallDisk(const std::string& Dir, const std::string& Size) : FDir(Dir) {
    std::filesystem::create_directories(Dir);
    FMounted = ::mount("tmpfs", Dir.c_str(), "tmpfs", 0, ("size=" + Size).c_str()) == 0;
    if (!FMounted) FError = std::strerror(errno);
  }
  ~TSmallDisk() {
    if (FMounted) ::umount2(FDir.c_str(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;
  bool Mounted() const { return FMounted; }
  const std::string& Error() const { return FError; }
  // Fills the disk with the file "filler" but for Room bytes.
  void Fill(uintmax_t Room) const {
    const std::string Filler = FDir + "/filler";
    {
      std::ofstream F(Filler, std::ios::binary);
      const std::string Block(4096, 'f');
      while (F.write(Block.data(), std::streamsize(Block.size())) && F.flush()) {
      }
    }
    Free(Room);
  }
  // Takes Bytes off the filler.
  void Free(uintmax_t Bytes) const {
    const std::string Filler = FDir + "/filler";
    const uintmax_t Size = std::filesystem::file_size(Filler);
    std::filesystem::resize_file(Filler, Size > Bytes ? Size - Bytes : 0);
  }
  void Empty() const { std::filesystem::remove(FDir + "/filler"); }

private:
  std::string FDir, FError;
  bool FMounted = false;
};

class JournalRelay : public ::testing::Test {
protected:
  TTestEnv Env;
  TLoopbackDNS Dns;
  TScriptedSmtpPeer Mx{"", 25};
  const int Port = FreeLoopbackPort();
  const std::string Harness = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  const std::string Data = Env.DataHome() + "quillon/data/";
  TChildProcess Relay;
  int Runs = 0;
  std::string Out;

  JournalRelay() {
    Mx.SetReply("GREETING", "");  // takes the connection and never answers
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    Settings();
  }
  // The registry file, with the value lines in Extra.
  void Settings(const std::string& Extra = "") {
    WriteHarnessRegistry(Env, Port, Dns.Address(), RegistryDword("SenderConntecTimeout", 600) + Extra);
  }
  void Start(const std::vector<std::string>& Prefix = {}) {
    Out = Env.Root() + "relay" + std::to_string(++Runs) + ".out";
    std::vector<std::string> Argv = Prefix;
    Argv.push_back(Harness);
    ASSERT_TRUE(Relay.Start(Argv, Out));
    ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
        << Env.ReadFile(Out);
  }
  void Kill() {
    ::kill(Relay.Pid(), SIGKILL);
    Relay.Wait();
  }
  void Stop() { EXPECT_EQ(Relay.Stop(15000), 0) << Env.ReadFile(Out); }
  // The whole dialogue of one mail; the reply to its end.
  std::string Send(const std::string& From, const std::string& To, const std::vector<std::string>& Body) {
    TLineClient C(Port);
    C.Read();
    C.Cmd("HELO client.test");
    C.Cmd("MAIL FROM:<" + From + ">");
    C.Cmd("RCPT TO:<" + To + ">");
    C.Cmd("DATA");
    for (auto& L : Body) C.Send(L);
    return C.Cmd(".");
  }
  // Every mail the index files list, as ID and sender (read after a clean stop).
  std::map<std::string, std::string> Listed() {
    std::map<std::string, std::string> Out;
    for (const char* F : {"MailQueu.idx", "MailSucc.idx", "MailFail.idx"}) {
      const std::string I = Env.ReadFile(Data + F);
      for (size_t At = 22; At + MailRecordSize <= I.size(); At += MailRecordSize) {
        TMailRecord R;
        ReadMailRecord(reinterpret_cast<const uint8_t*>(I.data() + At), R);
        Out[R.ID.str()] = "<" + R.MailFrom.str() + ">";
      }
    }
    return Out;
  }
  std::map<std::string, std::string> From(int First, int Last, const std::string& Sender = "<a@origin.test>") {
    std::map<std::string, std::string> Out;
    for (int I = First; I <= Last; ++I) Out[std::to_string(I)] = Sender;
    return Out;
  }
  // The output of the last start.
  std::string Output() { return Env.ReadFile(Out); }
  void Flip(const std::string& File, std::vector<size_t> At) {
    std::string J = Env.ReadFile(File);
    for (size_t A : At) J[A] = char(J[A] ^ 0x10);
    Env.WriteFile(File, J);
  }

  // Runs as user and group 65534 (root reads and writes every file whatever its mode).
  static std::vector<std::string> AsNobody() {
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  static bool CanRunAsNobody() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }
  // Every folder and file of the test to user 65534.
  void GiveToNobody() {
    for (auto& P : std::filesystem::recursive_directory_iterator(Env.Root())) ::chown(P.path().c_str(), 65534, 65534);
    ::chown(Env.Root().c_str(), 65534, 65534);
  }
};

// How often each "Subject: " line came to Peer in the message data it received, in its
// sessions from the First on.
inline std::map<std::string, int> Subjects(const TScriptedSmtpPeer& Peer, size_t First = 0) {
  std::map<std::string, int> Out;
  const auto All = Peer.Sessions();
  for (size_t I = First; I < All.size(); ++I)
    for (auto& L : All[I].Data)
      if (L.rfind("Subject: ", 0) == 0) ++Out[L];
  return Out;
}
