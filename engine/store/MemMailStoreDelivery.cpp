// The delivery side of the mail store: handing out mails, filing results, retries, the
// pause after a number of mails, the failure notice and the once-a-second step.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "engine/store/MemMailStore.h"
#include "platform/IniFile.h"

const char* const TMemoryMailStore::NoticeSenderAddress = "quillon-notice@localhost";

namespace {

std::string HostKey(const std::string& Domain) {
  std::string D = Trim(Domain);
  for (char& C : D)
    if (C >= 'A' && C <= 'Z') C = char(C - 'A' + 'a');
  return D;
}

std::string FirstDomain(const TMailData& Mail) {
  return Mail.Recipients.empty() ? std::string() : ExtractDomain(Mail.Recipients[0]);
}

}  // namespace

// --- Active domains ---

void TMemoryMailStore::AddActiveHost(const std::string& Domain) {
  if (!ForbiddenMultiConn) return;
  std::string K = HostKey(Domain);
  if (K.empty()) return;
  std::lock_guard<std::mutex> L(FActiveHostsLock);
  FActiveHosts.push_back(K);
}

bool TMemoryMailStore::IsHostActive(const std::string& Domain) {
  if (!ForbiddenMultiConn) return false;
  std::string K = HostKey(Domain);
  if (K.empty()) return false;
  std::lock_guard<std::mutex> L(FActiveHostsLock);
  for (auto& H : FActiveHosts)
    if (H == K) return true;
  return false;
}

void TMemoryMailStore::RemoveActiveHost(const std::string& Domain) {
  if (!ForbiddenMultiConn) return;
  std::string K = HostKey(Domain);
  if (K.empty()) return;
  std::lock_guard<std::mutex> L(FActiveHostsLock);
  for (auto It = FActiveHosts.begin(); It != FActiveHosts.end(); ++It) {
    if (*It == K) {
      FActiveHosts.erase(It);
      return;
    }
  }
}

// --- Handing out and filing ---

int32_t TMemoryMailStore::RetryDelay(int32_t FailedAttempts) const {
  if (!RetrySend || FailedAttempts >= MaxRetries) return -1;
  // The interval comes from the registry as any 32-bit number.
  const int64_t Seconds = int64_t(RetryInterval.load()) * 60;
  return int32_t(std::clamp<int64_t>(Seconds, INT32_MIN, INT32_MAX));
}

bool TMemoryMailStore::HasMailToSend() {
  if (FPauseCountdown > 0) return false;
  std::lock_guard<std::mutex> L(FQueue.Lock);
  return !FQueue.Items.empty();
}

bool TMemoryMailStore::GetNextMail(TMailData& Mail) {
  if (SenderPauseAfterSent && FPauseCountdown > 0) return false;
  std::lock_guard<std::mutex> L(FQueue.Lock);
  for (auto& R : FQueue.Items) {
    if (R->Rec.State != msWaiting && R->Rec.State != msRequeued) continue;
    Mail.Clear();
    Mail.LoadFromRecord(R->Rec);
    std::string Domain = FirstDomain(Mail);
    if (IsHostActive(Domain)) continue;
    Mail.State = msWaiting;
    std::string ID = R->Rec.ID.str();
    if (!ReadLines(MailFileName(ID), Mail.Data)) continue;
    if (!ReadLines(LogFileName(ID), Mail.Log)) Mail.Log.clear();
    SetRecordState(*R, msSending);
    AddActiveHost(Domain);
    PostNotice(naChanged, *R, msSending);
    if (SenderPauseAfterSent) {
      int32_t N = ++FSentCount;
      if (N >= SenderPauseMailCount) FPauseCountdown = SenderPauseTime.load();
    }
    return true;
  }
  return false;
}

bool TMemoryMailStore::MailDone(TMailData& Mail) {
  if (Mail.State != msAttemptDone) return false;
  RemoveActiveHost(FirstDomain(Mail));
  SignalNewMail();

  std::unique_ptr<TStoreRecord> R;
  {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    for (auto It = FQueue.Items.begin(); It != FQueue.Items.end(); ++It) {
      if ((*It)->Rec.ID != Mail.ID) continue;
      if (Mail.Status == dsStopped) {
        SetRecordState(**It, msWaiting);
        PostNotice(naChanged, **It, msWaiting);
        return false;
      }
      R = std::move(*It);
      FQueue.Items.erase(It);
      FQueueChanged = true;
      ++FQueueSeq;
      PostNotice(naRemoved, *R, R->Rec.State);
      break;
    }
  }
  if (!R) return false;

  std::string ID = R->Rec.ID.str();
  std::string Ignored;
  FFiles->WriteFile(LogFileName(ID), JoinLines(Mail.Log), false, Ignored);

  bool Sent = Mail.Status == dsDelivered || Mail.Status == dsRelayed;
  Mail.State = Sent ? msSent : msFailed;
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    if (Mail.Recipients.empty()) {
      // Keep the record's own recipient when the object lost its list.
      TMailData Copy = Mail;
      Copy.Recipients.push_back(R->Rec.Recipient.str());
      Copy.SaveToRecord(0, R->Rec);
    } else {
      Mail.SaveToRecord(0, R->Rec);
    }
  }
  std::string From = R->Rec.MailFrom.str(), To = R->Rec.Recipient.str();

  auto Discard = [&] {
    DeleteMailFiles(ID);
    RemoveFromAll(R.get());
    R.reset();
  };
  auto FileFailed = [&] {
    R->RetryCountdown = RetryDelay(R->Rec.FailedAttempts);
    std::lock_guard<std::mutex> L(FFailed.Lock);
    FFailedChanged = true;
    FMovedToFailed = true;
    PostNotice(naAdded, *R, msFailed);
    FFailed.Items.push_back(std::move(R));
  };

  if (Sent) {
    DoLog(2, Mail.Status == dsDelivered ? LangFmt(23, From, To) : LangFmt(78, From, Mail.LastError));
    if (DelMessageAfterSent && DelMessageDelay == 0) {
      Discard();
    } else {
      R->RetryCountdown = -1;
      std::lock_guard<std::mutex> L(FSent.Lock);
      FSentChanged = true;
      PostNotice(naAdded, *R, msSent);
      FSent.Items.push_back(std::move(R));
    }
    return false;
  }

  int32_t Attempts;
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    Attempts = ++R->Rec.FailedAttempts;
  }
  bool RetryDue = RetrySend && Attempts < MaxRetries;
  if (RetryDue) {
    std::string Text;
    if (!TryFormatText(LangStrings[24] + " " + LangStrings[79], {From, To}, Text))
      Text = LangFmt(24, From, To) + " " + LangStrings[79];
    DoLog(3, Text);
  } else {
    DoLog(3, LangFmt(24, From, To));
  }

  // A notice that cannot be delivered stays among the failed mails; it never makes a
  // notice of its own.
  if (R->Rec.Kind == mkNotice || !SendNotifyMail || RetryDue) {
    FileFailed();
    return false;
  }

  TMailData Failed;
  Failed.LoadFromRecord(R->Rec);
  Failed.Log = Mail.Log;
  TMailData Notice;
  Notice.MailFrom = std::string("<") + NoticeSenderAddress + ">";
  Notice.Recipients.push_back(NotifyMailSender ? Failed.MailFrom : "<" + SpecialNotifyMail.get() + ">");
  Notice.Subject = CutText("Undeliverable mail -- \"" + Failed.Subject + "\"", 80);
  Notice.State = msWaiting;
  Notice.Kind = mkNotice;
  Notice.FailedAttempts = 0;
  Notice.Data = ComposeFailureNotice(Failed);
  bool NoticeStored = true;
  try {
    AddMail(Notice);
  } catch (const EFCreateError& E) {
    // No notice was stored: the failed mail stays, whatever DelNotifiedMail says.
    NoticeStored = false;
    DoLog(3, E.what());
  } catch (const std::exception& E) {
    DoLog(3, E.what());
  }

  if (DelNotifiedMail && NoticeStored)
    Discard();
  else
    FileFailed();
  return false;
}

std::vector<std::string> TMemoryMailStore::ComposeFailureNotice(const TMailData& Mail) const {
  const std::string Sender = NoticeSenderAddress;
  const std::string S = Mail.Subject, F = Mail.MailFrom, R = Mail.GetRecipient(0);
  const std::string X = NotifyMailSender ? F : SpecialNotifyMail.get();
  std::vector<std::string> L = {
      "From: Quillon <" + Sender + ">",
      "Reply-To: " + Sender,
      "To: " + X,
      "Subject: Undeliverable mail -- \"" + S + "\"",
      "X-mailer: Quillon",
      "X-Priority: 3",
      "",
      "The following mail can't be sent to " + R,
      "",
      "From: " + F,
      "To: " + R,
      "",
      "Subject: " + S,
      "Mail Delivery Log:",
      "----- Start of Log ------",
  };
  L.insert(L.end(), Mail.Log.begin(), Mail.Log.end());
  L.insert(L.end(), {"", "", "------ End of Log  ------", "", "",
                     "This mail is generated by Quillon, DON'T REPLY THIS MAIL."});
  return L;
}

// --- Housekeeping ---

void TMemoryMailStore::Tick() {
  if (!FRunning) return;
  {
    std::lock_guard<std::mutex> LF(FFailed.Lock);
    for (size_t I = 0; I < FFailed.Items.size();) {
      TStoreRecord& R = *FFailed.Items[I];
      if (R.RetryCountdown < 0 || --R.RetryCountdown > 0) {
        ++I;
        continue;
      }
      std::unique_ptr<TStoreRecord> Due = std::move(FFailed.Items[I]);
      FFailed.Items.erase(FFailed.Items.begin() + std::ptrdiff_t(I));
      FFailedChanged = true;
      PostNotice(naRemoved, *Due, msFailed);
      SetRecordState(*Due, msRequeued);
      {
        std::lock_guard<std::mutex> LQ(FQueue.Lock);
        FQueueChanged = true;
        Due->FromFailedSeq = ++FQueueSeq;
        PostNotice(naAdded, *Due, msRequeued);
        FQueue.Items.push_back(std::move(Due));
      }
      SignalNewMail();
    }
  }
  if (!FRunning) return;
  if (++FDayTicks >= 86400) {
    FDayTicks = 0;
    AutoDeleteSent();
  }
  if (!FRunning) return;
  if (++FSaveTicks >= 10) {
    FSaveTicks = 0;
    SaveIndexes();
  }
  if (!FRunning) return;
  if (FPauseCountdown > 0 && --FPauseCountdown == 0) {
    FSentCount = 0;
    SignalNewMail();
  }
}

void TMemoryMailStore::AutoDeleteSent() {
  if (!DelMessageAfterSent) return;
  const double Today = std::trunc(FClock());
  const int32_t Delay = DelMessageDelay;
  std::vector<std::unique_ptr<TStoreRecord>> Gone;
  {
    std::lock_guard<std::mutex> L(FSent.Lock);
    std::vector<const TStoreRecord*> Ptrs;
    // From the last record to the first; the kept ones close up in one pass.
    size_t Keep = FSent.Items.size();
    for (size_t I = FSent.Items.size(); I-- > 0;) {
      if (Today - std::trunc(FSent.Items[I]->Rec.SentTime) < Delay) {
        if (--Keep != I) FSent.Items[Keep] = std::move(FSent.Items[I]);
        continue;
      }
      Gone.push_back(std::move(FSent.Items[I]));
      Ptrs.push_back(Gone.back().get());
    }
    FSent.Items.erase(FSent.Items.begin(), FSent.Items.begin() + std::ptrdiff_t(Keep));
    if (Gone.empty()) return;
    FSentChanged = true;
    RemoveFromAll(Ptrs);
    for (auto& R : Gone) PostNotice(naRemoved, *R, R->Rec.State);
  }
  for (auto& R : Gone) DeleteMailFiles(R->Rec.ID.str());
}
