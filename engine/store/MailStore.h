#pragma once
// The abstract mail store that the receiver, the delivery engine and the main window call.
// TMemoryMailStore (MemMailStore.h) is its implementation.
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/store/MailData.h"

class TEvent;

// Posted message numbers keep the values the front end expects.
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_MAILSTORECHANGE = WM_USER + 1;  // 1025

// Something that takes posted messages from engine threads (the main window on the front
// end, a recorder in tests). post must be cheap and must not call back into the engine.
class TNotifyTarget {
public:
  virtual ~TNotifyTarget() = default;
  virtual void post(unsigned Message) = 0;
};

// One change of the store, queued for the main window.
constexpr uint8_t naAdded = 0;    // added to a list
constexpr uint8_t naChanged = 1;  // changed in place
constexpr uint8_t naRemoved = 2;  // removed from a list
struct TMailNotice {
  uint8_t Action = 0;
  std::string ID;  // at most 10 characters
  TMailKind Kind = 0;
  TMailState State = 0;
};

// A change could not be written to the journal: it did not happen.
class EVexaMailJournalWriteError : public std::runtime_error {
public:
  EVexaMailJournalWriteError() : std::runtime_error("Mail journal write error!") {}
};

// A new mail could not be saved because the disk is full (no space left, or the quota):
// the mail client may try again later.
class EVexaMailStoreFull : public EVexaMailJournalWriteError {};

class EVexaMailNotFind : public std::runtime_error {
public:
  EVexaMailNotFind() : std::runtime_error("Mail not find!") {}
};

class EVexaMailIndexFileReadError : public std::runtime_error {
public:
  EVexaMailIndexFileReadError() : std::runtime_error("Mail index file read error!") {}
};

class TMailStore {
public:
  TMailStore() = default;
  TMailStore(const TMailStore&) = delete;
  TMailStore& operator=(const TMailStore&) = delete;
  virtual ~TMailStore() = default;

  // Auto-reset event of the delivery engine, signalled when a mail becomes deliverable;
  // set by the engine when it is created, cleared (nullptr) when it is destroyed.
  std::atomic<TEvent*> NewMailEvent{nullptr};
  // Receives WM_MAILSTORECHANGE once per queued notice; nullptr for none.
  std::atomic<TNotifyTarget*> NotifyWindow{nullptr};
  // New mails (level 2), deliveries (2) and failures (3). Set before the store is used.
  TLogEvent OnLog;

  // Stores one record per non-blank recipient; writes the new ID into Mail.ID. Throws when
  // a file cannot be written. Always false.
  virtual bool AddMail(TMailData& Mail) = 0;
  virtual bool HasMailToSend() = 0;
  // Fills the caller's object with the next deliverable mail (state msWaiting).
  virtual bool GetNextMail(TMailData& Mail) = 0;
  // Files the result of an attempt (Mail in state msAttemptDone). Always false.
  virtual bool MailDone(TMailData& Mail) = 0;
  // Hold, release and resend; always false.
  virtual bool ChangeMailState(const std::string& ID, TMailState OldState, TMailState NewState) = 0;
  // True when the mail was found and deleted.
  virtual bool DeleteMail(const std::string& ID) = 0;
  virtual void DeleteMails(TMailStateSet States) = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void ResetSending() = 0;
  virtual int32_t GetMailCount(TMailKindSet Kinds, TMailStateSet States) = 0;
  // One enumeration at a time (the GUI thread); records come back as copies.
  virtual bool FindFirst(TMailKindSet Kinds, TMailStateSet States, TMailRecord& Rec) = 0;
  virtual bool FindNext(TMailRecord& Rec) = 0;
  // Throws EVexaMailNotFind for an unknown ID.
  virtual void GetMailRecord(const std::string& ID, TMailRecord& Rec) = 0;
  // The mail with its message and log lines; nullptr for an unknown ID.
  virtual std::unique_ptr<TMailData> LoadMailData(const std::string& ID) = 0;
  virtual void FreeMailData(std::unique_ptr<TMailData> Mail) = 0;
  // Takes the oldest change notice.
  virtual bool PopNotice(TMailNotice& Notice) = 0;
};
