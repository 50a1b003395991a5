// Reading the mail journal at a start when a damaged record comes before a large message
// made of bytes laid out as record heads (what a hostile client would send): the time to
// read it, by the message's size. Reading after damage looks for the journal's identifier,
// so the time grows with the size alone.
//   journal_read_bench [MB,...]   (default 1,2,8,32,100)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/store/JournalFormat.h"
#include "engine/store/JournalReader.h"

using namespace JournalFormat;

namespace {

// A record of a new mail with a message of Size bytes (the record is valid).
std::string NewMailRecord(uint64_t ID, const std::string& Message) {
  TMailRecord R;
  R.ID = "1";
  R.MailFrom = "<a@x.example>";
  R.Recipient = "<b@x.example>";
  uint8_t Buf[MailRecordSize];
  WriteMailRecord(R, Buf);
  std::string Body;
  PutU32(Body, 1);
  Body.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
  PutU32(Body, uint32_t(Message.size()));
  PutU32(Body, NoText);
  Body += Message;
  std::string Rec = Head(uint32_t(HeadSize + Body.size() + 4), ID, joNew, 0) + Body;
  PutU32(Rec, Crc32(Rec.data(), Rec.size()));
  return Rec;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> Sizes = {1, 2, 8, 32, 100};
  if (argc > 1) {
    Sizes.clear();
    std::stringstream In(argv[1]);
    for (std::string S; std::getline(In, S, ',');) Sizes.push_back(std::atoi(S.c_str()));
  }
  const uint64_t ID = NewJournalID();
  std::printf("%10s %12s %12s %10s\n", "message", "journal", "read (ms)", "MB/s");
  for (int MB : Sizes) {
    // Heads that claim the rest of the message, with another identifier (a client cannot
    // know the journal's), one after the other.
    std::string Bait;
    const std::string Candidate = Head(uint32_t(size_t(MB) << 20), 0x4141414141414141ull, joNew, 0);
    while (Bait.size() + Candidate.size() <= size_t(MB) << 20) Bait += Candidate;
    std::string J = HeaderCopy(ID) + HeaderCopy(ID);
    std::string First = NewMailRecord(ID, "Subject: first\r\n\r\nhi\r\n");
    First[HeadSize + 10] ^= 1;  // damaged: the reader must look for the next record
    J += First;
    J += NewMailRecord(ID, Bait);
    J += NewMailRecord(ID, "Subject: last\r\n\r\nhi\r\n");
    J.resize(J.size() + (64 << 10), '\0');
    const auto Start = std::chrono::steady_clock::now();
    const TJournalRead R = ReadJournal(J);
    const double Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
    if (R.Entries.size() != 2 || R.Damage.size() != 1) std::printf("unexpected: %zu entries\n", R.Entries.size());
    std::printf("%7d MB %9.1f MB %12.1f %10.0f\n", MB, double(J.size()) / (1 << 20), Ms,
                double(J.size()) / (1 << 20) / (Ms / 1000));
  }
  return 0;
}
