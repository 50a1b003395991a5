#pragma once
// Data folders for the store's benchmarks: index files of many mails and their (empty)
// message files, written directly; and the comma-separated lists of the command lines.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/store/MailData.h"

// An index file of Count mails with the IDs FirstID, FirstID + 1, ... in State.
inline void WriteIndexFile(const std::string& Path, int FirstID, int Count, TMailState State) {
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
    R.Size = 10240;
    R.ReceiveTime = 46000;
    R.SentTime = State == msSent ? 46000.5 : 0;
    R.Kind = mkReceived;
    R.State = State;
    WriteMailRecord(R, Buf);
    B.append(reinterpret_cast<char*>(Buf), MailRecordSize);
  }
  std::ofstream(Path, std::ios::binary) << B;
}

// A data folder Dir (ending in "/") that lists Waiting waiting and then Sent sent mails.
inline void PreloadDataFolder(const std::string& Dir, int Waiting, int Sent) {
  std::filesystem::create_directories(Dir + "mail");
  std::filesystem::create_directories(Dir + "log");
  for (int I = 1; I <= Waiting + Sent; ++I)
    ::close(::open((Dir + "mail/" + std::to_string(I) + ".qn").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  WriteIndexFile(Dir + "MailQueu.idx", 1, Waiting, msWaiting);
  WriteIndexFile(Dir + "MailSucc.idx", Waiting + 1, Sent, msSent);
}

// "1,3,10" as numbers.
inline std::vector<int> ParseList(const std::string& S) {
  std::vector<int> R;
  std::stringstream In(S);
  std::string Item;
  while (std::getline(In, Item, ',')) R.push_back(std::stoi(Item));
  return R;
}
