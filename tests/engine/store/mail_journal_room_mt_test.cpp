// The journal's room on a nearly full disk, with connection threads at once: a mail is
// answered only when its own record is on disk, never because a later one of the same write
// was, and what a refusal leaves behind for its sender is gone once the sender has asked.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/StoreFixture.h"

namespace {

class JournalRoom : public StoreTest {};

}  // namespace

TEST_F(JournalRoom, AMailRefusedForRoomIsNeverAcknowledged) {
  // The first mail's write is held at the disk while two more queue behind it: a large one
  // that finds no room, then a small one that does. Both go in the next write.
  std::mutex M;
  std::condition_variable Wake;
  bool Held = false, Release = false;
  Files.OnJournalWrite = [&](const std::string& Data) {
    if (Data.find("held mail") == std::string::npos) return;
    std::unique_lock<std::mutex> L(M);
    Held = true;
    Wake.notify_all();
    Wake.wait(L, [&] { return Release; });
  };
  struct TClient {
    std::string Text;
    std::optional<std::string> ID;  // answered: the mail is taken
    std::thread T;
  };
  auto Send = [this](TClient& C) {
    C.T = std::thread([this, &C] {
      TMailData Mail = MakeMail({"a@x.example"}, C.Text.substr(0, 20));
      Mail.Data = {"Subject: x", "", C.Text};
      try {
        Store->AddMail(Mail);
        C.ID = Mail.ID;
      } catch (const EVexaMailJournalWriteError&) {
      }
    });
  };
  TClient First, Large, Small;
  First.Text = "held mail";
  Large.Text = std::string(200 << 10, 'L');
  Small.Text = "small mail";
  Send(First);
  {
    std::unique_lock<std::mutex> L(M);
    Wake.wait(L, [&] { return Held; });
  }
  Files.JournalSpace = 0;  // what the journal holds ahead of its records is all there is
  Send(Large);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Send(Small);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard<std::mutex> L(M);
    Release = true;
  }
  Wake.notify_all();
  for (TClient* C : {&First, &Large, &Small}) C->T.join();
  EXPECT_TRUE(First.ID && Small.ID);
  EXPECT_FALSE(Large.ID) << "answered as taken, as mail " << *Large.ID;
  // Every mail that was answered is there, now and after a start.
  Files.OnJournalWrite = nullptr;
  Files.JournalSpace = -1;
  for (int Round = 0; Round < 2; ++Round) {
    const auto Listed = States();
    for (TClient* C : {&First, &Large, &Small}) {
      if (!C->ID) continue;
      EXPECT_EQ(Listed.count(*C->ID), 1u) << C->Text.substr(0, 20) << " round " << Round;
    }
    EXPECT_EQ(Listed.size(), 2u);
    Reopen();
  }
}

TEST(JournalUndone, WhatASenderWasToldIsForgottenOnceAsked) {
  TTestEnv Env;
  TFaultyFiles Files;
  TMailJournal J(Files, Env.Root() + "MailJour.jnl");
  J.Open();
  J.OnFailure = [&] { J.RunUndos(); };
  Files.JournalSpace = 0;
  const auto Bytes = std::make_shared<const std::string>(std::string(100 << 10, 'x'));
  int Undone = 0;
  for (int I = 0; I < 200; ++I) {
    std::string Error;
    EXPECT_FALSE(J.Wait(J.Append(Bytes, [&] { ++Undone; }), Error));
    EXPECT_EQ(Error, "No space left on device");
  }
  EXPECT_EQ(Undone, 200);
  EXPECT_EQ(J.UndoneKept(), 0u);
}
