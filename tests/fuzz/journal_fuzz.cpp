// The mail journal's reader over any bytes: either the input as the whole file, or records
// that the harness frames from it (heads and checksums right, so that the reader gets past
// them), with bytes of the input laid over the result as damage. Whatever it reads must lie
// inside the file, and a journal built without damage must read back whole.
//
// Input: byte 0 options (bit 0: the input is the file itself), then chunks of a length
// byte, an operation, a list and that many body bytes; a last chunk of length 0 is
// followed by damage as offset (2 bytes) and value pairs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/store/JournalFormat.h"
#include "engine/store/JournalReader.h"

using namespace JournalFormat;

namespace {

// A record whose body holds one mail record and the texts that fit the operation.
std::string Frame(uint64_t ID, uint8_t Op, uint8_t List, const std::string& Text) {
  std::string Body;
  const bool New = Op % 3 == 0;
  if (New) PutU32(Body, 1);
  Body.append(MailRecordSize, '\0');
  Body[New ? 4 : 0] = 1;  // the ID "1"
  Body[New ? 5 : 1] = '1';
  PutU32(Body, uint32_t(Text.size()));
  PutU32(Body, NoText);
  Body += Text;
  std::string R = Head(uint32_t(HeadSize + Body.size() + 4), ID, New ? joNew : TJournalOp(1 + Op % 2),
                       New ? 0 : List % 3);
  R += Body;
  PutU32(R, Crc32(R.data(), R.size()));
  return R;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const std::string In(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  std::string File;
  size_t Records = 0;
  bool Damaged = false;
  if (Data[0] & 1) {
    File = In;
    Damaged = true;
  } else {
    const uint64_t ID = 0x5eed5eed5eed5eedull;
    File = HeaderCopy(ID) + HeaderCopy(ID);
    size_t P = 0;
    while (P + 3 <= In.size()) {
      const size_t Len = uint8_t(In[P]);
      if (Len == 0 || P + 3 + Len > In.size()) break;
      File += Frame(ID, uint8_t(In[P + 1]), uint8_t(In[P + 2]), In.substr(P + 3, Len));
      ++Records;
      P += 3 + Len;
    }
    for (P += 1; P + 3 <= In.size(); P += 3) {
      const size_t At = (uint8_t(In[P]) | uint8_t(In[P + 1]) << 8) % (File.size() + 1);
      if (At == File.size()) continue;
      if (File[At] != In[P + 2]) Damaged = true;
      File[At] = In[P + 2];
    }
    File.append(size_t(Data[0] >> 1) * 64, '\0');
  }
  const TJournalRead R = ReadJournal(File);
  if (R.End > File.size() || R.Leftover > File.size() - R.End) std::abort();
  for (auto& D : R.Damage)
    if (D.Offset > File.size()) std::abort();
  for (auto& E : R.Entries)
    if ((E.Data && E.Data->size() > File.size()) || (E.Log && E.Log->size() > File.size())) std::abort();
  if (!Damaged && (R.Entries.size() != Records || !R.Damage.empty() || R.TornTail || R.Fresh || R.SetAside))
    std::abort();
  return 0;
}
