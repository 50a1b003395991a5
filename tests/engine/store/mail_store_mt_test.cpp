// The store driven as the program drives it: connection threads adding, a resolver thread
// taking mails, a finisher thread filing results, the ticker running and the GUI thread
// enumerating and holding mails, all at once.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <set>
#include <thread>

#include "platform/Events.h"
#include "support/StoreFixture.h"

TEST(StoreThreads, EveryMailAddedIsDeliveredOnce) {
  TTestEnv Env;
  RetrySend = true;
  MaxRetries = 3;
  RetryInterval = 0;  // a failed mail goes back on the next tick
  SendNotifyMail = false;
  DelMessageAfterSent = false;
  ForbiddenMultiConn = true;
  SenderPauseAfterSent = false;

  TRecordingTarget Target;
  TEvent NewMail;
  TMemoryMailStore Store;
  std::atomic<int> LogLines{0};
  Store.OnLog = [&](uint8_t, const std::string&) { ++LogLines; };
  Store.NotifyWindow = &Target;
  Store.NewMailEvent = &NewMail;
  Store.Start();

  constexpr int Adders = 4, MailsEach = 40;
  const int Total = Adders * MailsEach * 2;  // two recipients each
  std::atomic<bool> Done{false};

  std::mutex QLock;
  std::condition_variable QWake;
  std::deque<std::unique_ptr<TMailData>> InDelivery;
  std::mutex DeliveredLock;
  std::map<std::string, int> Delivered;

  std::thread Resolver([&] {
    while (!Done) {
      auto M = std::make_unique<TMailData>();
      if (!Store.GetNextMail(*M)) {
        NewMail.WaitFor(50);
        continue;
      }
      std::lock_guard<std::mutex> L(QLock);
      InDelivery.push_back(std::move(M));
      QWake.notify_one();
    }
  });
  std::thread Finisher([&] {
    std::set<std::string> StoppedOnce;
    for (;;) {
      std::unique_ptr<TMailData> M;
      {
        std::unique_lock<std::mutex> L(QLock);
        QWake.wait_for(L, std::chrono::milliseconds(50), [&] { return !InDelivery.empty(); });
        if (InDelivery.empty()) {
          if (Done) return;
          continue;
        }
        M = std::move(InDelivery.front());
        InDelivery.pop_front();
      }
      int N = std::stoi(M->ID);
      M->State = msAttemptDone;
      if (N % 7 == 0 && M->FailedAttempts == 0) {
        M->Status = dsConnectFailed;
      } else if (N % 11 == 0 && StoppedOnce.insert(M->ID).second) {
        M->Status = dsStopped;  // comes back at once
      } else {
        M->Status = dsDelivered;
        M->SentTime = Now();
        std::lock_guard<std::mutex> L(DeliveredLock);
        ++Delivered[M->ID];
      }
      Store.MailDone(*M);
    }
  });

  std::vector<std::thread> Connections;
  for (int T = 0; T < Adders; ++T) {
    Connections.emplace_back([&, T] {
      for (int I = 0; I < MailsEach; ++I) {
        TMailData M;
        M.MailFrom = "<s" + std::to_string(T) + "@here.example>";
        M.Recipients = {"r@d" + std::to_string(I % 3) + ".example", "q@D" + std::to_string(T) + ".Example"};
        M.Subject = "mail";
        M.Kind = mkReceived;
        M.State = msWaiting;
        M.Data = {"Subject: mail", "", std::string(200, 'x')};
        Store.AddMail(M);
        Store.GetMailCount({1}, {1});
      }
    });
  }

  // The GUI thread meanwhile.
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int Seen = 0;
  std::map<std::string, int> Resent, Tried;  // resends that took effect; resends asked for
  auto Drain = [&] {
    TMailNotice N;
    while (Store.PopNotice(N)) {
      ++Seen;
      // Only a resend takes a mail out of the sent list here.
      if (N.Action == naRemoved && N.State == msSent) ++Resent[N.ID];
    }
  };
  for (;;) {
    Drain();
    TMailRecord R;
    int Listed = 0;
    for (bool Ok = Store.FindFirst({1, 2, 3}, {1, 2, 3, 5, 6, 7}, R); Ok; Ok = Store.FindNext(R)) {
      std::string ID = R.ID.str();
      if (++Listed % 17 == 0 && R.State == msSent && Tried[ID]++ == 0) {
        // Sent mails are in no delivery: a resend delivers once more.
        Store.ChangeMailState(ID, msSent, msWaiting);
      }
      if (Listed % 5 == 0) {
        auto M = Store.LoadMailData(ID);
        if (M) Store.FreeMailData(std::move(M));
      }
    }
    if (Store.GetMailCount({1}, {5}) == Total && Store.GetMailCount({1}, {1}) == 0) break;
    if (std::chrono::steady_clock::now() > Deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (auto& C : Connections) C.join();
  Done = true;
  Resolver.join();
  Finisher.join();

  EXPECT_EQ(Store.GetMailCount({1}, {5}), Total);
  EXPECT_EQ(Store.GetMailCount({1}, {1, 6}), 0);
  EXPECT_EQ(int(Delivered.size()), Total);
  Drain();
  for (auto& [ID, Count] : Delivered) EXPECT_EQ(Count, 1 + Resent[ID]) << ID;
  EXPECT_EQ(Seen, Target.Posted.load());
  EXPECT_GE(LogLines.load(), 2 * Total);
  Store.NewMailEvent = nullptr;
}

// Connection threads add mails while the journal's syncs fail now and then (a disk that
// comes and goes): a mail whose AddMail returned survives a crash, a refused one is gone
// with its files, whoever shared its sync.
TEST_F(StoreTest, RefusedAndAcceptedMailsUnderFailingSyncs) {
  constexpr int Adders = 4, MailsEach = 60;
  std::mutex Lock;
  std::set<std::string> Accepted, Refused;
  std::vector<std::thread> Threads;
  for (int T = 0; T < Adders; ++T)
    Threads.emplace_back([&, T] {
      for (int I = 0; I < MailsEach; ++I) {
        // One thread turns the failures on and off as it goes.
        if (T == 0 && I % 10 == 0) Files.FailJournalSync = (I / 10) % 2 == 1;
        TMailData M = MakeMail({"r" + std::to_string(T) + "@x.example"});
        bool Ok = true;
        try {
          Store->AddMail(M);
        } catch (const EVexaMailJournalWriteError&) {
          Ok = false;
        }
        std::lock_guard<std::mutex> L(Lock);
        (Ok ? Accepted : Refused).insert(M.ID);
      }
    });
  for (auto& T : Threads) T.join();
  Files.FailJournalSync = false;
  EXPECT_FALSE(Refused.empty());
  EXPECT_FALSE(Accepted.empty());
  Files.Crash();
  Store.reset();
  Files.Thaw();
  Open();
  std::vector<std::string> Listed = IDs({1});
  EXPECT_EQ(std::set<std::string>(Listed.begin(), Listed.end()), Accepted);
  for (auto& ID : Refused) EXPECT_FALSE(Exists("mail/" + ID + ".qn")) << ID;
}
