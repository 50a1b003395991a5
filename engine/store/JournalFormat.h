#pragma once
// The layout of the mail store's journal, shared by its writer and its reader.
//
// File: the header twice (a flipped byte in one copy costs nothing), then records. A header
// copy: "QuilJrn2", the journal's identifier (64 bits), the CRC-32 of the 16 bytes before.
// The identifier is drawn at random whenever the journal starts again and is never shown
// anywhere else, so that no bytes a mail client sends can carry it.
//
// Record, little-endian:
//   0   4    record size in bytes, all fields included
//   4   8    the journal's identifier
//   12  1    operation: 1 the mail is in the list named next, with the record; 2 deleted;
//            3 a new mail for one or more recipients
//   13  1    list: 0 waiting, 1 sent, 2 failed
//   14  4    CRC-32 of bytes 0 to 13 (checked before anything else of the record is read)
// Operations 1 and 2:
//   18  321  the mail record (only the ID counts for a deletion)
//   339 4    size of the message text that follows, 0xFFFFFFFF for none
//   343 4    size of the log text that follows it, 0xFFFFFFFF for none
//   347 ...  message text, log text
// Operation 3 (the message once, whatever the number of recipients):
//   18  4    number of records N (1 or more)
//   22  321N the records, one per recipient
//   ... 4    size of the message text, 4 size of the log text, then both texts
// Every record ends with the CRC-32 of every byte of the record before it.
//
// Behind the last record the file holds zeros: it is written ahead with them, and a fresh
// start writes them over what it keeps of the old records and gives the rest back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/store/MailData.h"

enum TJournalOp : uint8_t { joPut = 1, joDelete = 2, joNew = 3 };

namespace JournalFormat {

constexpr char Magic[8] = {'Q', 'u', 'i', 'l', 'J', 'r', 'n', '2'};
constexpr size_t HeaderCopySize = 20;
constexpr size_t HeaderSize = 2 * HeaderCopySize;
constexpr size_t HeadSize = 18;                              // a record's fixed head
constexpr size_t PutFixedSize = HeadSize + MailRecordSize + 8;  // operations 1 and 2, up to the texts
constexpr size_t NewFixedSize = HeadSize + 4;                // operation 3, up to the records
constexpr uint32_t NoText = 0xFFFFFFFF;

// The journal of the earlier layout (16-byte header "QuilJrnl", epoch, CRC; record heads of
// size, epoch, operation and list), read once at a start and then written anew.
constexpr char LegacyMagic[8] = {'Q', 'u', 'i', 'l', 'J', 'r', 'n', 'l'};
constexpr size_t LegacyHeaderSize = 16;
constexpr size_t LegacyHeadSize = 10;

inline void PutU32(std::string& S, uint32_t V) {
  for (int I = 0; I < 4; ++I) S += char((V >> (8 * I)) & 0xFF);
}
inline void PutU64(std::string& S, uint64_t V) {
  for (int I = 0; I < 8; ++I) S += char((V >> (8 * I)) & 0xFF);
}
inline uint32_t GetU32(const uint8_t* P) {
  return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}
inline uint64_t GetU64(const uint8_t* P) { return uint64_t(GetU32(P)) | uint64_t(GetU32(P + 4)) << 32; }

// One copy of the header.
std::string HeaderCopy(uint64_t ID);
// The 18-byte head of a record of Size bytes.
std::string Head(uint32_t Size, uint64_t ID, TJournalOp Op, uint8_t List);
// A new identifier, never 0.
uint64_t NewJournalID();

}  // namespace JournalFormat

uint32_t Crc32(const void* Data, size_t Size, uint32_t Crc = 0);
