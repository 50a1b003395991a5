#pragma once
// The mail model: the mail object that travels between receiver, store and delivery
// engine, the fixed-size mail record of the store and its index files, the states and
// kinds of a mail, the delivery results and the callbacks through which the engine logs.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/DateTime.h"

// --- Mail states (one byte) ---
using TMailState = uint8_t;
constexpr TMailState msNone = 0;         // cleared object; the store ignores it
constexpr TMailState msWaiting = 1;      // waiting list
constexpr TMailState msSending = 2;      // handed to a delivery thread; saved as msWaiting
constexpr TMailState msHeld = 3;         // held in the queue
constexpr TMailState msAttemptDone = 4;  // mail object only: result is in Status
constexpr TMailState msSent = 5;         // sent list
constexpr TMailState msFailed = 6;       // failed list
constexpr TMailState msRequeued = 7;     // waiting again after a resend or a retry

// --- Mail kinds (one byte) ---
using TMailKind = uint8_t;
constexpr TMailKind mkReceived = 1;  // received by the built-in SMTP server
constexpr TMailKind mkNotice = 3;    // undeliverable-mail notice made by the store

// A set of values 0 to 7 in one byte, bit n for value n. The tag keeps state sets and
// kind sets apart so the two arguments of GetMailCount/FindFirst cannot be swapped.
template <class Tag>
struct TByteSet {
  uint8_t Bits = 0;
  constexpr TByteSet() = default;
  constexpr TByteSet(std::initializer_list<uint8_t> Values) {
    for (uint8_t V : Values)
      if (V < 8) Bits |= uint8_t(1u << V);
  }
  static constexpr TByteSet FromBits(uint8_t B) {
    TByteSet S;
    S.Bits = B;
    return S;
  }
  constexpr bool Contains(uint8_t V) const { return V < 8 && (Bits >> V) & 1u; }
  constexpr bool Empty() const { return Bits == 0; }
  constexpr bool operator==(const TByteSet&) const = default;
};
using TMailStateSet = TByteSet<struct TMailStateSetTag>;
using TMailKindSet = TByteSet<struct TMailKindSetTag>;

// --- Delivery results (TMailData::Status) ---
using TDeliveryStatus = int32_t;
constexpr TDeliveryStatus dsDelivered = 1;
constexpr TDeliveryStatus dsAddressError = 2;  // address error, or no MX information
constexpr TDeliveryStatus dsTimeout = 3;
constexpr TDeliveryStatus dsRecipientRejected = 4;
constexpr TDeliveryStatus dsConnectFailed = 5;
constexpr TDeliveryStatus dsSenderRejected = 6;
constexpr TDeliveryStatus dsDataRejected = 7;
constexpr TDeliveryStatus dsUnknownError = 8;
constexpr TDeliveryStatus dsStopped = 9;  // back to waiting
constexpr TDeliveryStatus dsRelayed = 10;

// --- Callbacks ---
// Level 0 plain, 1 information, 2 success, 3 error; Text at most 255 characters.
using TLogEvent = std::function<void(uint8_t Level, const std::string& Text)>;
// Per-mail delivery lines and the percentage of the message sent.
using TDeliveryLogEvent = std::function<void(const std::string& MailID, const std::string& Text, int Percent)>;

// Cuts S to at most MaxLen bytes without splitting a UTF-8 character.
std::string CutText(const std::string& S, size_t MaxLen);

// A text field of fixed capacity N as the record holds it: a length byte and up to N bytes.
// Assigning a longer text cuts it at a character boundary.
template <size_t N>
struct TShortString {
  static_assert(N < 256);
  static constexpr size_t Capacity = N;
  uint8_t Len = 0;
  char Chars[N] = {};

  TShortString() = default;
  TShortString(const std::string& S) { assign(S); }
  TShortString(const char* S) { assign(std::string(S)); }
  TShortString& operator=(const std::string& S) {
    assign(S);
    return *this;
  }
  TShortString& operator=(const char* S) {
    assign(std::string(S));
    return *this;
  }
  void assign(const std::string& S) {
    std::string C = CutText(S, N);
    Len = uint8_t(C.size());
    for (size_t I = 0; I < N; ++I) Chars[I] = I < C.size() ? C[I] : '\0';
  }
  std::string str() const { return std::string(Chars, Len); }
  operator std::string() const { return str(); }
  bool empty() const { return Len == 0; }
  size_t size() const { return Len; }
  bool operator==(const std::string& S) const { return S.size() == Len && S.compare(0, Len, Chars, Len) == 0; }
  bool operator==(const char* S) const { return *this == std::string(S); }
};

// One mail for one recipient: the element of the store's lists and the record of the
// mail index files. On disk it takes MailRecordSize bytes (WriteMailRecord/ReadMailRecord).
struct TMailRecord {
  TShortString<10> ID;          // offset 0
  TShortString<100> MailFrom;   // offset 11
  TShortString<100> Recipient;  // offset 112
  TShortString<80> Subject;     // offset 213
  int32_t Size = 0;             // offset 294
  TDateTime ReceiveTime = 0;    // offset 298
  TDateTime SentTime = 0;       // offset 306
  TMailKind Kind = 0;           // offset 314
  TMailState State = 0;         // offset 315
  int32_t FailedAttempts = 0;   // offset 316
  uint8_t MultiRecipient = 0;   // offset 320; never read by TMailData
};

constexpr size_t MailRecordSize = 321;

// Field by field, little-endian, at the record's fixed offsets.
void WriteMailRecord(const TMailRecord& Rec, uint8_t* Out);
// The length bytes are limited to each field's capacity.
void ReadMailRecord(const uint8_t* In, TMailRecord& Rec);

// The mail object. Whoever needs one creates and frees it. While received it carries every
// recipient; a mail taken from the store holds exactly one (entry 0).
class TMailData {
public:
  TMailData() { Clear(); }

  std::string ID;                       // at most 10 characters: the store's mail number
  std::string MailFrom;                 // envelope sender
  std::vector<std::string> Recipients;  // recipient addresses
  std::string Subject;                  // decoded Subject header, at most 80 characters
  int32_t Size = 0;                     // message size in bytes
  TDateTime ReceiveTime = 0;
  TDateTime SentTime = 0;  // 0 unless delivered
  TMailKind Kind = 0;
  TMailState State = 0;
  int32_t FailedAttempts = 0;
  std::vector<std::string> Data;  // message lines without line ends
  std::vector<std::string> Log;   // delivery log lines
  TDeliveryStatus Status = 0;     // result of the last attempt
  std::string LastError;          // last reply of a failed attempt, or the relay host
  bool ForceRelay = false;        // kept by Clear

  // Empties everything but ForceRelay.
  void Clear();
  // Clear, then the record's fields; its recipient is added unless blank.
  void LoadFromRecord(const TMailRecord& Rec);
  // The record for recipient Index (limited to the list's range). Throws std::out_of_range
  // when the mail has no recipient.
  void SaveToRecord(int32_t Index, TMailRecord& Rec) const;
  // Recipients[Index] with Index limited to the list's range; empty without recipients.
  std::string GetRecipient(int32_t Index) const;
};
