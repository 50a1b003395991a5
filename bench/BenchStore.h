#pragma once
// A large mail store written straight to disk for the benchmarks: the index files the
// store loads at start and an empty message file per mail.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/store/MailData.h"

// Subjects: all "bench", or (Varied) texts in no order, in mixed case, for sorting.
inline void WriteBenchIndex(const std::string& Path, int FirstID, int Count, TMailState State, bool Varied = false) {
  std::string B = "VexaMIdx";
  for (int I = 0; I < 4; ++I) B += std::string("\x01\x00", 2);
  B += std::string("\x16\x00", 2);
  for (int I = 0; I < 4; ++I) B += char((uint32_t(Count) >> (8 * I)) & 0xFF);
  uint8_t Buf[MailRecordSize];
  for (int I = 0; I < Count; ++I) {
    TMailRecord R;
    R.ID = std::to_string(FirstID + I);
    R.MailFrom = "<bench@here.example>";
    R.Recipient = "rcpt@far.example";
    R.Subject = "bench";
    if (Varied) {
      const uint32_t H = uint32_t(FirstID + I) * 2654435761u;
      R.Subject = std::string(1, char((H >> 8) % 2 ? 'A' + (H >> 16) % 26 : 'a' + (H >> 16) % 26)) + "ubject " +
                  std::to_string(H % 100000);
    }
    R.Size = 10240;
    R.ReceiveTime = 46000;
    R.SentTime = State == msSent ? 46000.5 : 0;
    R.Kind = mkReceived;
    R.State = State;
    WriteMailRecord(R, Buf);
    B.append(reinterpret_cast<char*>(Buf), MailRecordSize);
  }
  FILE* F = std::fopen(Path.c_str(), "wb");
  std::fwrite(B.data(), 1, B.size(), F);
  std::fclose(F);
}

// Dir (the data folder, with trailing "/") holds Waiting waiting mails (IDs from 1) and
// Sent sent ones after them.
inline void MakeBenchStore(const std::string& Dir, int Waiting, int Sent, bool Varied = false) {
  std::filesystem::create_directories(Dir + "mail");
  std::filesystem::create_directories(Dir + "log");
  for (int I = 1; I <= Waiting + Sent; ++I) {
    int Fd = ::open((Dir + "mail/" + std::to_string(I) + ".qn").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::close(Fd);
  }
  WriteBenchIndex(Dir + "MailQueu.idx", 1, Waiting, msWaiting, Varied);
  WriteBenchIndex(Dir + "MailSucc.idx", Waiting + 1, Sent, msSent, Varied);
}
