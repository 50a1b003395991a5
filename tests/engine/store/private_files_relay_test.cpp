// Nobody but their user reaches the program's files: the store's and the DNS cache's writers
// make owner-only files under umask 022, and quillon-relay, run as its own process with mail
// delivered and refused, leaves nothing under its data and settings folders that another
// user can read, even where an earlier run left those folders open.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dns/DNSFileAccess.h"
#include "engine/store/StoreFiles.h"
#include "support/ChildProcess.h"
#include "support/FileModes.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

TEST(PrivateFiles, StoreAndDNSCacheWritersMakeOwnerOnlyFiles) {
  TTestEnv Env;
  TScopedUmask Mask(022);
  const std::string Dir = Env.Root() + "w/";
  std::filesystem::create_directories(Dir);
  TStoreFiles& Store = DiskStoreFiles();
  std::string Error;
  struct {
    const char* Name;
    std::function<bool()> Write;
  } const Cases[] = {
      {"message file", [&] { return Store.WriteFile(Dir + "1.qn", "mail", true, Error); }},
      // A name already there gets a new file, written under a temporary name first.
      {"message file written again",
       [&] {
         Env.WriteFile(Dir + "2.qn", "old");
         ::chmod((Dir + "2.qn").c_str(), 0600);
         return Store.WriteFile(Dir + "2.qn", "new", false, Error);
       }},
      {"index file", [&] { return Store.ReplaceFile(Dir + "MailQueu.idx", "index"); }},
      {"journal",
       [&] {
         auto J = Store.OpenJournalFile(Dir + "MailJour.jnl", Error);
         return J && J->WriteAt(0, "record", Error);
       }},
      {"DNS cache file", [&] { return DiskDNSFileAccess().CreateFile(Dir + "DNSCache.idx", "head", 4); }},
  };
  int N = 0;
  const std::string Files[] = {"1.qn", "2.qn", "MailQueu.idx", "MailJour.jnl", "DNSCache.idx"};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    ASSERT_TRUE(C.Write()) << Error;
    EXPECT_EQ(ModeOf(Dir + Files[N++]), "0600");
  }
}

namespace {

const char* const Setpriv = "/usr/bin/setpriv";

// quillon-relay under umask 022 in test folders that every user may enter, the way a home
// folder often is: only the program's own modes can keep others out.
class PrivateFilesRelay : public ::testing::Test {
protected:
  TScopedUmask Mask{022};
  TTestEnv Env;
  // Made once the test can run: port 53 and port 25 need root.
  std::unique_ptr<TLoopbackDNS> Dns;
  std::unique_ptr<TScriptedSmtpPeer> Mx, Refuser;
  const int Port = FreeLoopbackPort();
  const std::string Harness = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  const std::string Own[2] = {Env.DataHome() + "quillon/", Env.ConfigHome() + "quillon/"};
  const std::string Data = Own[0] + "data/";
  TChildProcess Relay;
  std::string Out = Env.Root() + "relay.out";

  void SetUp() override {
    if (::geteuid() != 0 || ::access(Setpriv, X_OK) != 0)
      GTEST_SKIP() << "needs root and " << Setpriv << " to try the files as another user";
    for (const auto& D : {Env.Root(), Env.ConfigHome(), Env.DataHome(), Env.RuntimeDir()}) ::chmod(D.c_str(), 0755);
    Dns = std::make_unique<TLoopbackDNS>();
    Mx = std::make_unique<TScriptedSmtpPeer>("", 25);
    Refuser = std::make_unique<TScriptedSmtpPeer>("", 25);
    Refuser->SetReply("RCPT", "550 No such user");
    Dns->SetMX("dest.test", {{10, Mx->IP()}});
    Dns->SetMX("gone.test", {{10, Refuser->IP()}});
    WriteHarnessRegistry(Env, Port, Dns->Address());
  }
  void Start() {
    ASSERT_TRUE(Relay.Start({Harness}, Out));
    ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
        << Env.ReadFile(Out);
  }
  void Stop() { EXPECT_EQ(Relay.Stop(15000), 0) << Env.ReadFile(Out); }
  std::string Send(const std::string& To) {
    TLineClient C(Port);
    C.Read();
    C.Cmd("HELO client.test");
    C.Cmd("MAIL FROM:<a@origin.test>");
    C.Cmd("RCPT TO:<" + To + ">");
    C.Cmd("DATA");
    C.Send("Subject: private");
    C.Send("");
    C.Send("text");
    return C.Cmd(".");
  }
  // Whether user 65534 can open File for reading.
  static bool NobodyReads(const std::string& File) {
    TChildProcess P;
    return P.Run({Setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "head", "-c1", File}, "/dev/null",
                 10000) == 0;
  }
  // Every entry under the program's own folders, those folders included.
  std::vector<std::filesystem::directory_entry> Entries() const {
    std::vector<std::filesystem::directory_entry> All;
    for (const auto& Dir : Own) {
      All.emplace_back(Dir);
      for (const auto& E : std::filesystem::recursive_directory_iterator(Dir)) All.push_back(E);
    }
    return All;
  }
  // The folders above ours are the user's: never changed.
  void ExpectHomesUntouched() {
    for (const auto& D : {Env.Root(), Env.ConfigHome(), Env.DataHome()}) EXPECT_EQ(ModeOf(D), "0755") << D;
  }
};

}  // namespace

TEST_F(PrivateFilesRelay, NothingARunWritesCanBeReadByAnotherUser) {
  // The check itself: a file open to all in a folder open to all is read.
  const std::string Open = Env.Root() + "open/readable.txt";
  Env.WriteFile(Open, "x");
  ::chmod(Open.c_str(), 0644);
  ::chmod((Env.Root() + "open").c_str(), 0755);
  ASSERT_TRUE(NobodyReads(Open));

  Start();
  ASSERT_EQ(Send("b@dest.test").substr(0, 3), "250");
  ASSERT_EQ(Send("c@dest.test").substr(0, 3), "250");
  ASSERT_EQ(Send("d@gone.test").substr(0, 3), "250");
  for (const char* Line : {"notice 0 1 5", "notice 0 2 5", "notice 0 3 6"})  // two sent, one failed
    EXPECT_TRUE(WaitForOutput(Env, Out, Line)) << Line << "\n" << Env.ReadFile(Out);
  Stop();

  // Every kind of file a run leaves is there to be tried.
  for (const char* F : {"MailJour.jnl", "MailQueu.idx", "MailSucc.idx", "MailFail.idx", "mail/1.qn", "mail/3.qn",
                        "log/1.log", "log/3.log", "dns/DNSCache.idx", "dns/DNSCache.dat", "quillon-VexaRunInstance.lock"})
    EXPECT_TRUE(std::filesystem::exists(Data + F)) << F;
  EXPECT_TRUE(std::filesystem::exists(Own[1] + "registry.reg"));
  int Files = 0;
  for (const auto& E : Entries()) {
    const std::string P = E.path().string();
    if (E.is_directory()) {
      EXPECT_EQ(ModeOf(P), "0700") << P;
    } else {
      ++Files;
      EXPECT_FALSE(NobodyReads(P)) << P;
      // Even with the folders open again, only the test's own registry file could be read.
      if (E.path().filename() != "registry.reg") {
        EXPECT_EQ(ModeOf(P), "0600") << P;
      }
    }
  }
  EXPECT_GE(Files, 12);
  ExpectHomesUntouched();
}

TEST_F(PrivateFilesRelay, FoldersAnEarlierRunLeftOpenAreClosedAtAStart) {
  // As an earlier version left them: folders 0755, files 0644.
  const std::string Left[] = {Data + "notes.txt", Data + "mail/1.qn", Own[0] + "other.txt", Own[1] + "registry.reg"};
  for (const auto& F : Left) {
    if (!std::filesystem::exists(F)) Env.WriteFile(F, "left");
    ::chmod(F.c_str(), 0644);
  }
  for (const auto& D : {Own[0], Data, Data + "mail/", Own[1]}) ::chmod(D.c_str(), 0755);
  for (const auto& F : Left) ASSERT_TRUE(NobodyReads(F)) << F;

  Start();
  Stop();
  for (const auto& F : Left) EXPECT_FALSE(NobodyReads(F)) << F;
  for (const auto& D : {Own[0], Data, Own[1]}) EXPECT_EQ(ModeOf(D), "0700") << D;
  ExpectHomesUntouched();
}
