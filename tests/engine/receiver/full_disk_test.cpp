// The data folder on a small filesystem of its own (a tmpfs) that fills up: a mail client
// hears a 452 it may try again after, not a permanent refusal, and nothing accepted is lost.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/ReceiverFixture.h"

namespace {

class FullDisk : public TReceiverFixture {
protected:
  std::string Mount;
  bool Mounted = false;
  std::unique_ptr<TMemoryMailStore> Real;

  void SetUp() override {
    Mount = Env.DataHome() + "quillon/data";
    std::filesystem::create_directories(Mount);
    if (::mount("tmpfs", Mount.c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    Mounted = true;
    DataDir = Mount + "/";
    TReceiverFixture::SetUp();
    Receiver->Start();
  }
  void TearDown() override {
    if (!Mounted) return;
    TReceiverFixture::TearDown();
    Real.reset();
    ::umount2(Mount.c_str(), MNT_DETACH);
  }
  TMailStore& ReceiverStore() override {
    if (!Real) {
      TMemoryMailStoreOptions O;
      O.RunTicker = false;
      Real = std::make_unique<TMemoryMailStore>(std::move(O));
      Real->OnLog = [](uint8_t L, const std::string& T) { fprintf(stderr, "STORE %d %s\n", L, T.c_str()); };
    }
    return *Real;
  }
  // Fills the filesystem to its last byte.
  void Fill() {
    std::ofstream F(Mount + "/filler", std::ios::binary);
    const std::string Block(4096, 'f');
    while (F.write(Block.data(), std::streamsize(Block.size())) && F.flush()) {
    }
  }
};

}  // namespace

TEST_F(FullDisk, AFullDiskAnswers452AndLosesNoAcceptedMail) {
  auto C = Client();
  EXPECT_EQ("250 OK", SendMail(C, "a@here.example", {"Subject: before", "", "x"}));
  Fill();
  // The journal's room ahead takes a few more; then the client hears that the disk is full.
  const std::vector<std::string> Big = {"Subject: big", "", std::string(8000, 'y')};
  int Accepted = 1;
  std::string Reply;
  for (int I = 0; I < 100 && (Reply = SendMail(C, "a@here.example", Big)) == "250 OK"; ++I) ++Accepted;
  EXPECT_EQ("452 Can not save mail. Insufficient storage!", Reply);
  // The connection stays open and the client tries again once there is room.
  std::filesystem::remove(Mount + "/filler");
  EXPECT_EQ("250 OK", SendMail(C, "a@here.example", Big));
  ++Accepted;
  Real->WaitForDisk();
  EXPECT_EQ(Real->GetMailCount({1}, {msWaiting}), Accepted);
  // Every accepted mail is there after a restart, with its message.
  Real.reset();
  TMemoryMailStoreOptions O;
  O.RunTicker = false;
  TMemoryMailStore Again(std::move(O));
  EXPECT_EQ(Again.GetMailCount({1}, {msWaiting}), Accepted);
  TMailRecord R;
  for (bool Ok = Again.FindFirst({1}, {msWaiting}, R); Ok; Ok = Again.FindNext(R)) {
    auto M = Again.LoadMailData(R.ID.str());
    ASSERT_TRUE(M);
    EXPECT_EQ(M->Data.size(), 3u) << R.ID.str();
    if (R.Subject.str() == "big") {
      EXPECT_EQ(M->Data, Big) << R.ID.str();
    }
  }
}
