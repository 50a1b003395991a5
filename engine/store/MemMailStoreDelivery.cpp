// The delivery side of the mail store: handing out mails, filing results, retries, the
// pause after a number of mails, the failure notice and the once-a-second step.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

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
  // While the disk cannot take what delivery files, nothing more goes out.
  if (FJournal->Stalled() || !FJournal->Unusable().empty()) return false;
  std::lock_guard<std::mutex> L(FQueue.Lock);
  for (auto& R : FQueue.Items) {
    if (R->Rec.State != msWaiting && R->Rec.State != msRequeued) continue;
    // Not before the change that made it deliverable is on disk.
    if (R->Seq > FJournal->Synced()) continue;
    Mail.Clear();
    Mail.LoadFromRecord(R->Rec);
    std::string Domain = FirstDomain(Mail);
    if (IsHostActive(Domain)) continue;
    Mail.State = msWaiting;
    if (!ReadTexts(R->Rec.ID.str(), Mail)) continue;
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

  TMailRecord Rec;
  {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    auto It = std::find_if(FQueue.Items.begin(), FQueue.Items.end(), [&](auto& R) { return R->Rec.ID == Mail.ID; });
    if (It == FQueue.Items.end()) return false;
    if (Mail.Status == dsStopped) {
      SetRecordState(**It, msWaiting);
      PostNotice(naChanged, **It, msWaiting);
      return false;
    }
    Rec = (*It)->Rec;
  }

  const std::string ID = Rec.ID.str();
  auto LogText = std::make_shared<const std::string>(JoinLines(Mail.Log));

  const bool Sent = Mail.Status == dsDelivered || Mail.Status == dsRelayed;
  Mail.State = Sent ? msSent : msFailed;
  const std::string RecordRecipient = Rec.Recipient.str();
  if (Mail.Recipients.empty()) {
    // Keep the record's own recipient when the object lost its list.
    TMailData Copy = Mail;
    Copy.Recipients.push_back(RecordRecipient);
    Copy.SaveToRecord(0, Rec);
  } else {
    Mail.SaveToRecord(0, Rec);
  }
  const std::string From = Rec.MailFrom.str(), To = Rec.Recipient.str();

  // Where the mail goes: the sent or the failed list, or nowhere (deleted).
  int Target = lkFailed;
  TNewMail NoticeMail;
  if (Sent) {
    DoLog(2, Mail.Status == dsDelivered ? LangFmt(23, From, To) : LangFmt(78, From, Mail.LastError));
    Target = DelMessageAfterSent && DelMessageDelay == 0 ? -1 : lkSent;
  } else {
    // The count comes from an index file as any 32-bit number; it stops at the largest.
    if (Rec.FailedAttempts < INT32_MAX) ++Rec.FailedAttempts;
    const int32_t Attempts = Rec.FailedAttempts;
    const bool RetryDue = RetrySend && Attempts < MaxRetries;
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
    if (Rec.Kind != mkNotice && SendNotifyMail && !RetryDue) {
      TMailData Failed;
      Failed.LoadFromRecord(Rec);
      Failed.Log = Mail.Log;
      auto Notice = std::make_unique<TMailData>();
      Notice->MailFrom = std::string("<") + NoticeSenderAddress + ">";
      Notice->Recipients.push_back(NotifyMailSender ? Failed.MailFrom : "<" + SpecialNotifyMail.get() + ">");
      Notice->Subject = CutText("Undeliverable mail -- \"" + Failed.Subject + "\"", 80);
      Notice->State = msWaiting;
      Notice->Kind = mkNotice;
      Notice->FailedAttempts = 0;
      Notice->Data = ComposeFailureNotice(Failed);
      NoticeMail = PrepareMail(*Notice);
      NoticeMail.Owned = std::move(Notice);
      // No notice (a blank sender to send it to): the failed mail stays, whatever
      // DelNotifiedMail says.
      if (DelNotifiedMail && !NoticeMail.Records.empty()) Target = -1;
    }
  }

  // Out of the waiting list and into its new place, with its log and its notice, as one
  // change of the journal. The finisher does not wait for the sync: it goes on with the
  // next delivery, whose change shares the sync. The change is never taken back: the
  // exchanger has answered, so a disk that cannot take it keeps it waiting in memory, and
  // only a crash before it is on disk delivers the mail again. Where the journal has no
  // room for all of it, the filing alone goes, in the room that the mail's acceptance kept
  // for it (its log and notice then reach their files without the journal's copy).
  auto Notice = std::make_shared<TNewMail>(std::move(NoticeMail));
  auto Done = [this, Notice, Target, ID](bool) {
    QueueFiles(TFileJob{Notice->IDs, Notice->Texts});
    AnnounceNew(*Notice);
    if (Target < 0)
      DeleteMailFiles(ID);
    else
      QueueFiles(TFileJob{{ID}, nullptr});
  };
  std::shared_lock<std::shared_mutex> C(FChangeLock);
  EncodeNew(*Notice);
  std::unique_lock<std::mutex> TL;  // the new list before the waiting list
  if (Target >= 0) TL = std::unique_lock<std::mutex>(ListOf(Target).Lock);
  std::lock_guard<std::mutex> QL(FQueue.Lock);
  std::unique_ptr<TStoreRecord> R = TakeByID(FQueue.Items, ID);
  if (!R) return false;  // deleted meanwhile: nothing to file, no notice
  FQueueChanged = true;
  PostNotice(naRemoved, *R, R->Rec.State);
  auto Bytes = Notice->Encoded.Bytes ? Notice->Encoded.Bytes : std::make_shared<std::string>();
  // The room that the other mails to deliver (this one's notice among them) keep.
  const uint64_t Room = FilingRoom * (FQueue.Items.size() + uint64_t(FRetrying.load()) + Notice->Records.size());
  auto Filing = std::make_shared<const std::string>(Target < 0 ? FJournal->Encode(joDelete, lkQueue, Rec)
                                                                : FJournal->Encode(joPut, uint8_t(Target), Rec));
  if (Target < 0) {
    RemoveFromAll(R.get());
    *Bytes += *Filing;
    PointTexts(*Notice);
    InsertNew(*Notice, FJournal->Append(Bytes, nullptr, Done, Room, Filing));
    return false;
  }
  R->RetryCountdown = Target == lkFailed ? RetryDelay(Rec.FailedAttempts) : -1;
  if (R->RetryCountdown >= 0) ++FRetrying;
  *Bytes += FJournal->Encode(joPut, uint8_t(Target), Rec, nullptr, LogText.get());
  PointTexts(*Notice);
  PendLog(ID, LogText);
  const uint64_t Seq = FJournal->Append(Bytes, nullptr, Done, Room, Filing);
  InsertNew(*Notice, Seq);
  {
    // Filed as far as anyone who looks can tell: what a wait for the disk waits for is queued.
    std::lock_guard<std::mutex> A(FAllMailsLock);
    R->Rec = Rec;
  }
  R->Seq = Seq;
  ChangedFlagOf(Target) = true;
  PostNotice(naAdded, *R, Rec.State);
  ListOf(Target).Items.push_back(std::move(R));
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
  uint64_t Seq = 0;
  {
    std::shared_lock<std::shared_mutex> C(FChangeLock);
    std::lock_guard<std::mutex> LF(FFailed.Lock);
    for (size_t I = 0; I < FFailed.Items.size();) {
      TStoreRecord& R = *FFailed.Items[I];
      if (R.RetryCountdown < 0 || --R.RetryCountdown > 0) {
        ++I;
        continue;
      }
      std::unique_ptr<TStoreRecord> Due = std::move(FFailed.Items[I]);
      --FRetrying;
      FFailed.Items.erase(FFailed.Items.begin() + std::ptrdiff_t(I));
      FFailedChanged = true;
      PostNotice(naRemoved, *Due, msFailed);
      SetRecordState(*Due, msRequeued);
      {
        std::lock_guard<std::mutex> LQ(FQueue.Lock);
        Seq = Journal(FJournal->Encode(joPut, lkQueue, Due->Rec), [this](bool) { SignalNewMail(); });
        Due->Seq = Seq;
        FQueueChanged = true;
        PostNotice(naAdded, *Due, msRequeued);
        FQueue.Items.push_back(std::move(Due));
      }
    }
  }
  if (Seq != 0) OnDisk(Seq);
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
  DeleteWhere(lkSent, [&](const TStoreRecord& R) { return Today - std::trunc(R.Rec.SentTime) >= Delay; }, true);
}
