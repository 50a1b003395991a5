#pragma once
// Reading the mail store's journal at a start: which journal it is, its records, and what
// damage cost. Only bytes that carry the journal's identifier can be taken for a record, so
// nothing inside a message is ever read as one, and finding the next record after damage
// costs one pass over the file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/store/JournalFormat.h"

// One mail's change as loading reads it (a new mail gives one entry per recipient, all
// sharing its texts).
struct TJournalEntry {
  TJournalOp Op = joPut;
  uint8_t List = 0;
  TMailRecord Rec;
  std::shared_ptr<const std::string> Data, Log;  // none: not in this record
};

// What reading the journal skipped.
struct TJournalDamage {
  uint64_t Offset = 0;  // where the damaged bytes start
  int Records = 0;      // records of the journal among them, as far as their heads tell
};

struct TJournalRead {
  std::vector<TJournalEntry> Entries;
  std::vector<TJournalDamage> Damage;
  uint64_t ID = 0;   // the journal's identifier
  uint64_t End = 0;       // behind the last whole record: the next one goes here
  uint64_t Leftover = 0;  // bytes behind End up to the last one that is not zero
  // No journal of ours (empty, or a header torn as it was first written): it gets one.
  bool Fresh = false;
  // Kept under another name rather than written over: whose records it holds cannot be told
  // (nothing of it is replayed), or it is of the earlier layout and damaged (what stands
  // before the damage is replayed).
  bool SetAside = false;
  // Of the earlier layout: written anew at the first save, nothing appended before.
  bool Legacy = false;
  // A record of the journal that the last write left unfinished ends it (nothing whole of the
  // journal follows): the torn tail of a write that was never acknowledged.
  bool TornTail = false;
  // Nothing to replay and nothing but zeros behind the header.
  bool Clean() const { return Entries.empty() && Damage.empty() && !TornTail && !Fresh && !SetAside && !Legacy; }
};

TJournalRead ReadJournal(const std::string& Bytes);
