#include "engine/store/JournalReader.h"

#include <algorithm>
#include <cstring>

using namespace JournalFormat;

namespace {

uint64_t TextSize(uint32_t Size) { return Size == NoText ? 0 : Size; }

bool AllZero(const uint8_t* From, const uint8_t* To) {
  return std::all_of(From, To, [](uint8_t B) { return B == 0; });
}

// The fields behind a record's head (at B) agree with its size (Size bytes are there).
bool LayoutFits(const uint8_t* R, uint64_t Size, uint8_t Op, uint8_t List, size_t B) {
  if (List > 2) return false;
  if (Op == joPut || Op == joDelete) {
    const uint64_t Fixed = B + MailRecordSize + 8;
    if (Size < Fixed + 4) return false;
    return Fixed + TextSize(GetU32(R + B + MailRecordSize)) + TextSize(GetU32(R + B + MailRecordSize + 4)) + 4 == Size;
  }
  if (Op != joNew || List != 0 || Size < B + 12) return false;
  const uint64_t Count = GetU32(R + B);
  if (Count == 0 || Count > Size / MailRecordSize) return false;
  const uint64_t Texts = B + 4 + Count * MailRecordSize;
  if (Texts + 12 > Size) return false;
  return Texts + 8 + TextSize(GetU32(R + Texts)) + TextSize(GetU32(R + Texts + 4)) + 4 == Size;
}

bool CheckedEnd(const uint8_t* R, uint64_t Size) { return GetU32(R + Size - 4) == Crc32(R, size_t(Size - 4)); }

// A record head of journal ID whose own checksum holds: costs the same whatever follows.
bool HeadOf(const uint8_t* R, size_t Avail, uint64_t ID) {
  return Avail >= HeadSize && GetU64(R + 4) == ID && GetU32(R + 14) == Crc32(R, 14);
}

// The size of the record of journal ID at R when it is a whole, valid one; 0 otherwise.
size_t ValidRecord(const uint8_t* R, size_t Avail, uint64_t ID) {
  if (!HeadOf(R, Avail, ID)) return 0;
  const uint32_t Size = GetU32(R);
  if (Size < HeadSize + 4 || Size > Avail || !LayoutFits(R, Size, R[12], R[13], HeadSize)) return 0;
  return CheckedEnd(R, Size) ? Size : 0;
}

// Budget, when given, is what checksums may still cost; a record it cannot pay for is not
// checked (0), and Budget then stays as it is.
size_t ValidLegacyRecord(const uint8_t* R, size_t Avail, uint32_t Epoch, uint64_t* Budget = nullptr) {
  if (Avail < LegacyHeadSize + 4) return 0;
  const uint32_t Size = GetU32(R);
  if (Size < LegacyHeadSize + 4 || Size > Avail || GetU32(R + 4) != Epoch) return 0;
  if (!LayoutFits(R, Size, R[8], R[9], LegacyHeadSize)) return 0;
  if (Budget) {
    if (*Budget < Size) return 0;
    *Budget -= Size;
  }
  return CheckedEnd(R, Size) ? Size : 0;
}

std::shared_ptr<const std::string> TextAt(const uint8_t*& T, uint32_t Size) {
  if (Size == NoText) return nullptr;
  auto S = std::make_shared<const std::string>(reinterpret_cast<const char*>(T), Size);
  T += Size;
  return S;
}

// The entries of a valid record whose body starts at B.
void DecodeRecord(const uint8_t* R, uint8_t Op, uint8_t List, size_t B, std::vector<TJournalEntry>& Entries) {
  if (Op != joNew) {
    TJournalEntry E;
    E.Op = TJournalOp(Op);
    E.List = List;
    ReadMailRecord(R + B, E.Rec);
    const uint8_t* T = R + B + MailRecordSize + 8;
    E.Data = TextAt(T, GetU32(R + B + MailRecordSize));
    E.Log = TextAt(T, GetU32(R + B + MailRecordSize + 4));
    Entries.push_back(std::move(E));
    return;
  }
  const uint32_t Count = GetU32(R + B);
  const uint8_t* Sizes = R + B + 4 + size_t(Count) * MailRecordSize;
  const uint8_t* T = Sizes + 8;
  auto Data = TextAt(T, GetU32(Sizes));
  auto Log = TextAt(T, GetU32(Sizes + 4));
  for (uint32_t I = 0; I < Count; ++I) {
    TJournalEntry E;
    E.Op = joPut;
    E.List = 0;
    ReadMailRecord(R + B + 4 + size_t(I) * MailRecordSize, E.Rec);
    E.Data = Data;
    E.Log = Log;
    Entries.push_back(std::move(E));
  }
}

// From the damaged bytes at Pos: the next whole record of journal ID (0 for none), and how
// many heads of its records stand before it. The identifier is searched for as a string, so
// this is one pass over the bytes, and only heads of the journal's own cost a checksum.
size_t NextRecord(const uint8_t* P, size_t Pos, size_t End, uint64_t ID, int& Heads) {
  uint8_t Key[8];
  for (int I = 0; I < 8; ++I) Key[I] = uint8_t(ID >> (8 * I));
  Heads = 0;
  for (size_t From = Pos + 4; From + 8 <= End;) {
    const void* Hit = ::memmem(P + From, End - From, Key, 8);
    if (!Hit) break;
    const size_t At = size_t(static_cast<const uint8_t*>(Hit) - P) - 4;
    From = At + 5;
    if (At > Pos && ValidRecord(P + At, End - At, ID)) return At;
    if (HeadOf(P + At, End - At, ID)) ++Heads;
  }
  return 0;
}

// The end of the bytes that are not zero, from Pos.
size_t LastNonZero(const uint8_t* P, size_t Pos, size_t End) {
  while (End > Pos && P[End - 1] == 0) --End;
  return End;
}

TJournalRead ReadLegacy(const uint8_t* P, size_t End) {
  TJournalRead J;
  const uint32_t Epoch = GetU32(P + 8);
  size_t Pos = LegacyHeaderSize;
  while (const size_t Size = ValidLegacyRecord(P + Pos, End - Pos, Epoch)) {
    DecodeRecord(P + Pos, P[Pos + 8], P[Pos + 9], LegacyHeadSize, J.Entries);
    Pos += Size;
  }
  J.End = Pos;
  const size_t Last = LastNonZero(P, Pos, End);
  // Its records carry nothing that a message could not, so nothing is read past damage. A
  // record that the last write did not finish (its head, and nothing behind what it claims)
  // is its torn tail; anything else was damaged, and the file is kept as it is.
  const bool Torn = Last > Pos && End - Pos >= LegacyHeadSize && GetU32(P + Pos + 4) == Epoch &&
                    uint64_t(Pos) + GetU32(P + Pos) >= Last;
  if (Last > Pos && !Torn) {
    // The whole records behind it, as far as they can be told, were lost with it. Bytes of a
    // message may look like heads too: the checksums this count takes are held to a few
    // passes over the file.
    int Lost = 1;
    uint64_t Budget = 4 * uint64_t(End);
    for (size_t At = Pos + 1; At + LegacyHeadSize + 4 <= Last; ++At) {
      if (const size_t Size = ValidLegacyRecord(P + At, End - At, Epoch, &Budget)) {
        ++Lost;
        At += Size - 1;
      }
    }
    J.Damage.push_back(TJournalDamage{Pos, Lost});
    J.SetAside = true;
  }
  J.TornTail = Torn;
  // Its records are replayed and saved; with none, nothing of it is needed any more.
  J.Legacy = !J.Entries.empty();
  J.Fresh = J.Entries.empty() && !J.SetAside;
  return J;
}

bool HeaderCopyAt(const uint8_t* P, size_t End, size_t At, uint64_t& ID) {
  if (End < At + HeaderCopySize || std::memcmp(P + At, Magic, 8) != 0) return false;
  if (GetU32(P + At + 16) != Crc32(P + At, 16)) return false;
  ID = GetU64(P + At + 8);
  return ID != 0;
}

}  // namespace

TJournalRead ReadJournal(const std::string& Bytes) {
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Bytes.data());
  const size_t End = Bytes.size();
  if (End >= LegacyHeaderSize && std::memcmp(P, LegacyMagic, 8) == 0 && GetU32(P + 12) == Crc32(P, 12))
    return ReadLegacy(P, End);
  TJournalRead J;
  // Too short for a header: it was being written as the journal began.
  if (End < HeaderSize) {
    J.Fresh = true;
    return J;
  }
  // Which journal it is: the first copy of the header, else the second, else the head of the
  // record that every start of the journal writes first.
  bool HeaderDamaged = true;
  if (HeaderCopyAt(P, End, 0, J.ID)) {
    HeaderDamaged = false;
  } else if (!HeaderCopyAt(P, End, HeaderCopySize, J.ID)) {
    J.ID = End >= HeaderSize + HeadSize ? GetU64(P + HeaderSize + 4) : 0;
    if (J.ID == 0 || !HeadOf(P + HeaderSize, End - HeaderSize, J.ID)) {
      J.ID = 0;
      // Zeros behind a header that is not whole: it was being written as the journal began.
      if (AllZero(P + HeaderSize, P + End)) {
        J.Fresh = true;
        return J;
      }
      J.SetAside = true;
      J.Damage.push_back(TJournalDamage{0, 0});
      return J;
    }
  }
  if (HeaderDamaged) J.Damage.push_back(TJournalDamage{0, 0});
  size_t Pos = HeaderSize;
  // Every start writes its first record right behind the header: a head of another journal
  // there is what a start that was cut short left of the one before, whose changes the index
  // files hold. It is zeroed before anything is written behind it.
  if (!ValidRecord(P + Pos, End - Pos, J.ID) && End >= Pos + HeadSize && GetU64(P + Pos + 4) != J.ID &&
      HeadOf(P + Pos, End - Pos, GetU64(P + Pos + 4))) {
    J.End = Pos;
    J.Leftover = LastNonZero(P, Pos, End) - Pos;
    return J;
  }
  while (Pos < End) {
    if (const size_t Size = ValidRecord(P + Pos, End - Pos, J.ID)) {
      DecodeRecord(P + Pos, P[Pos + 12], P[Pos + 13], HeadSize, J.Entries);
      Pos += Size;
      continue;
    }
    if (AllZero(P + Pos, P + End)) {
      J.End = Pos;
      return J;  // nothing behind the last record
    }
    int Heads = 0;
    const size_t Next = NextRecord(P, Pos, End, J.ID, Heads);
    if (Next == 0) {
      // The end. One record of the journal that the last write did not finish is its torn
      // tail; anything else was damaged.
      if (Heads == 1 && HeadOf(P + Pos, End - Pos, J.ID))
        J.TornTail = true;
      else
        J.Damage.push_back(TJournalDamage{Pos, Heads});
      break;
    }
    J.Damage.push_back(TJournalDamage{Pos, std::max(Heads, 1)});
    Pos = Next;
  }
  J.End = Pos;
  // What is left behind the last record (damage, a torn write) is zeroed before anything is
  // written after it.
  J.Leftover = LastNonZero(P, Pos, End) - Pos;
  return J;
}
