#include "engine/store/MailData.h"

#include <cstring>
#include <stdexcept>

std::string CutText(const std::string& S, size_t MaxLen) {
  if (S.size() <= MaxLen) return S;
  auto Continues = [&](size_t I) { return (static_cast<unsigned char>(S[I]) & 0xC0) == 0x80; };
  // Step back over the continuation bytes of the character the cut would split, so the cut
  // lands before its lead byte. Bytes that are not UTF-8 (no lead byte within the three
  // before) are cut where they stand.
  size_t Cut = MaxLen;
  while (Cut > 0 && MaxLen - Cut < 3 && Continues(Cut)) --Cut;
  if (Continues(Cut) || static_cast<unsigned char>(S[Cut]) < 0xC0) Cut = MaxLen;
  return S.substr(0, Cut);
}

namespace {

template <size_t N>
void PutText(uint8_t* Out, const TShortString<N>& T) {
  Out[0] = T.Len;
  std::memcpy(Out + 1, T.Chars, N);
}

template <size_t N>
void GetText(const uint8_t* In, TShortString<N>& T) {
  size_t L = In[0] <= N ? In[0] : N;
  T.Len = uint8_t(L);
  std::memset(T.Chars, 0, N);
  std::memcpy(T.Chars, In + 1, L);
}

void PutU32(uint8_t* Out, uint32_t V) {
  for (int I = 0; I < 4; ++I) Out[I] = uint8_t(V >> (8 * I));
}

uint32_t GetU32(const uint8_t* In) {
  uint32_t V = 0;
  for (int I = 0; I < 4; ++I) V |= uint32_t(In[I]) << (8 * I);
  return V;
}

void PutDouble(uint8_t* Out, double D) {
  uint64_t Bits;
  std::memcpy(&Bits, &D, 8);
  for (int I = 0; I < 8; ++I) Out[I] = uint8_t(Bits >> (8 * I));
}

double GetDouble(const uint8_t* In) {
  uint64_t Bits = 0;
  for (int I = 0; I < 8; ++I) Bits |= uint64_t(In[I]) << (8 * I);
  double D;
  std::memcpy(&D, &Bits, 8);
  return D;
}

}  // namespace

void WriteMailRecord(const TMailRecord& Rec, uint8_t* Out) {
  PutText(Out + 0, Rec.ID);
  PutText(Out + 11, Rec.MailFrom);
  PutText(Out + 112, Rec.Recipient);
  PutText(Out + 213, Rec.Subject);
  PutU32(Out + 294, uint32_t(Rec.Size));
  PutDouble(Out + 298, Rec.ReceiveTime);
  PutDouble(Out + 306, Rec.SentTime);
  Out[314] = Rec.Kind;
  Out[315] = Rec.State;
  PutU32(Out + 316, uint32_t(Rec.FailedAttempts));
  Out[320] = Rec.MultiRecipient;
}

void ReadMailRecord(const uint8_t* In, TMailRecord& Rec) {
  GetText(In + 0, Rec.ID);
  GetText(In + 11, Rec.MailFrom);
  GetText(In + 112, Rec.Recipient);
  GetText(In + 213, Rec.Subject);
  Rec.Size = int32_t(GetU32(In + 294));
  Rec.ReceiveTime = GetDouble(In + 298);
  Rec.SentTime = GetDouble(In + 306);
  Rec.Kind = In[314];
  Rec.State = In[315];
  Rec.FailedAttempts = int32_t(GetU32(In + 316));
  // Kept as read, so that a save writes the byte back unchanged (LoadFromRecord ignores it).
  Rec.MultiRecipient = In[320];
}

namespace {
bool IsBlank(const std::string& S) {
  for (unsigned char C : S)
    if (C > 32) return false;
  return true;
}
}  // namespace

void TMailData::Clear() {
  ID.clear();
  MailFrom.clear();
  Subject.clear();
  LastError.clear();
  Size = 0;
  ReceiveTime = 0;
  SentTime = 0;
  Kind = 0;
  State = 0;
  FailedAttempts = 0;
  Status = 0;
  Recipients.clear();
  Data.clear();
  Log.clear();
}

void TMailData::LoadFromRecord(const TMailRecord& Rec) {
  Clear();
  ID = Rec.ID.str();
  MailFrom = Rec.MailFrom.str();
  Subject = Rec.Subject.str();
  Size = Rec.Size;
  ReceiveTime = Rec.ReceiveTime;
  SentTime = Rec.SentTime;
  Kind = Rec.Kind;
  State = Rec.State;
  FailedAttempts = Rec.FailedAttempts;
  std::string R = Rec.Recipient.str();
  if (!IsBlank(R)) Recipients.push_back(R);
}

void TMailData::SaveToRecord(int32_t Index, TMailRecord& Rec) const {
  if (Recipients.empty()) throw std::out_of_range("List index out of bounds (0)");
  int32_t Count = int32_t(Recipients.size());
  int32_t I = Index < 0 ? 0 : (Index >= Count ? Count - 1 : Index);
  Rec.ID = ID;
  Rec.MailFrom = MailFrom;
  Rec.Recipient = Recipients[size_t(I)];
  Rec.Subject = Subject;
  Rec.Size = Size;
  Rec.ReceiveTime = ReceiveTime;
  Rec.SentTime = SentTime;
  Rec.Kind = Kind;
  Rec.State = State;
  Rec.FailedAttempts = FailedAttempts;
  Rec.MultiRecipient = Count > 1 ? 1 : 0;
}

std::string TMailData::GetRecipient(int32_t Index) const {
  if (Recipients.empty()) return std::string();
  int32_t Count = int32_t(Recipients.size());
  int32_t I = Index < 0 ? 0 : (Index >= Count ? Count - 1 : Index);
  return Recipients[size_t(I)];
}
