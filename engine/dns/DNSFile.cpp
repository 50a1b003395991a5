#include "engine/dns/DNSFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"

namespace {

// Little-endian field codec over a byte buffer.
void Put16(unsigned char* P, uint16_t V) {
  P[0] = static_cast<unsigned char>(V);
  P[1] = static_cast<unsigned char>(V >> 8);
}
void Put32(unsigned char* P, int32_t V) {
  const auto U = static_cast<uint32_t>(V);
  for (int I = 0; I < 4; ++I) P[I] = static_cast<unsigned char>(U >> (8 * I));
}
void PutDouble(unsigned char* P, double V) {
  uint64_t U;
  std::memcpy(&U, &V, 8);
  for (int I = 0; I < 8; ++I) P[I] = static_cast<unsigned char>(U >> (8 * I));
}
// A length byte and 255 bytes; the bytes behind the text are written as zeros.
void PutName(unsigned char* P, const std::string& S) {
  const size_t L = std::min(S.size(), DNSNameMaxLength);
  std::memset(P, 0, 1 + DNSNameMaxLength);
  P[0] = static_cast<unsigned char>(L);
  std::memcpy(P + 1, S.data(), L);
}
uint16_t Get16(const unsigned char* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
int32_t Get32(const unsigned char* P) {
  uint32_t U = 0;
  for (int I = 0; I < 4; ++I) U |= static_cast<uint32_t>(P[I]) << (8 * I);
  return static_cast<int32_t>(U);
}
double GetDouble(const unsigned char* P) {
  uint64_t U = 0;
  for (int I = 0; I < 8; ++I) U |= static_cast<uint64_t>(P[I]) << (8 * I);
  double V;
  std::memcpy(&V, &U, 8);
  return V;
}
std::string GetName(const unsigned char* P) { return std::string(reinterpret_cast<const char*>(P + 1), P[0]); }

template <class THeader>
void PutVersionPart(unsigned char* P, const THeader& H) {
  std::memcpy(P, H.Magic, 8);
  Put16(P + 8, H.VersionMajor);
  Put16(P + 10, H.VersionMinor);
  Put16(P + 12, H.VersionRelease);
  Put16(P + 14, H.VersionBuild);
  Put16(P + 16, H.HeaderSize);
}
template <class THeader>
void GetVersionPart(const unsigned char* P, THeader& H) {
  std::memcpy(H.Magic, P, 8);
  H.VersionMajor = Get16(P + 8);
  H.VersionMinor = Get16(P + 10);
  H.VersionRelease = Get16(P + 12);
  H.VersionBuild = Get16(P + 14);
  H.HeaderSize = Get16(P + 16);
}

void EncodeIndexHeader(unsigned char* P, const TDNSIndexHeader& H) {
  PutVersionPart(P, H);
  Put32(P + 18, H.ChainHead);
  Put32(P + 22, H.FreeHead);
  Put32(P + 26, H.InUse);
  Put32(P + 30, H.Allocated);
}
void EncodeDataHeader(unsigned char* P, const TDNSDataHeader& H) {
  PutVersionPart(P, H);
  Put32(P + 18, H.FreeHead);
  Put32(P + 22, H.InUse);
  Put32(P + 26, H.Allocated);
}

template <class THeader>
void SetVersion(THeader& H, const char* Magic, uint16_t Size) {
  std::memcpy(H.Magic, Magic, 8);
  GetFileVersion(H.VersionMajor, H.VersionMinor, H.VersionRelease, H.VersionBuild);
  H.HeaderSize = Size;
}


}  // namespace

int TVexaDNSFile::OpenReadWrite(const std::string& Name) {
  const int Fd = FFiles.OpenFile(Name);
  if (Fd < 0) throw std::runtime_error("Cannot open file \"" + Name + "\". " + std::strerror(errno));
  return Fd;
}


TVexaDNSFile::TVexaDNSFile(TVexaDNSQuery* Query, int MaxEntries, const std::string& IndexFileName,
                           const std::string& DataFileName, const std::string& PrimaryServer,
                           const std::string& SecondaryServer, int Timeout, TDNSFileAccess* Files)
    : FFiles(Files ? *Files : DiskDNSFileAccess()),
      FIndexFileName(IndexFileName),
      FDataFileName(DataFileName),
      FMaxEntries(MaxEntries),
      FQuery(Query),
      FPrimaryServer(CutName(PrimaryServer)),
      FSecondaryServer(CutName(SecondaryServer)),
      FTimeout(Timeout) {
  Open();
}

TVexaDNSFile::~TVexaDNSFile() { Close(); }

void TVexaDNSFile::Close() {
  {
    std::lock_guard<std::mutex> L(FEntriesLock);
    FEntries.clear();
  }
  if (FIndexStream >= 0) FFiles.CloseFile(FIndexStream);
  if (FDataStream >= 0) FFiles.CloseFile(FDataStream);
  FIndexStream = FDataStream = -1;
}

void TVexaDNSFile::CreateFiles() {
  unsigned char Buf[34];
  TDNSIndexHeader IH;
  SetVersion(IH, "VexaDIdx", static_cast<uint16_t>(IndexHeaderSize));
  EncodeIndexHeader(Buf, IH);
  if (!FFiles.CreateFile(FIndexFileName, Buf, IndexHeaderSize)) return;
  TDNSDataHeader DH;
  SetVersion(DH, "VexaDDat", static_cast<uint16_t>(DataHeaderSize));
  EncodeDataHeader(Buf, DH);
  FFiles.CreateFile(FDataFileName, Buf, DataHeaderSize);
}

void TVexaDNSFile::Open() {
  // A missing or cut-off file of either kind starts both anew: the index is useless
  // without its data and the other way round.
  const int64_t IndexSize = FFiles.FileSize(FIndexFileName);
  const int64_t DataSize = FFiles.FileSize(FDataFileName);
  if (IndexSize < IndexHeaderSize || DataSize < DataHeaderSize) CreateFiles();
  FIndexStream = OpenReadWrite(FIndexFileName);
  try {
    FDataStream = OpenReadWrite(FDataFileName);
  } catch (...) {
    FFiles.CloseFile(FIndexStream);
    FIndexStream = -1;
    throw;
  }

  unsigned char Buf[34] = {};
  if (FFiles.ReadAt(FIndexStream, Buf, IndexHeaderSize, 0)) {
    GetVersionPart(Buf, FIndexHeader);
    FIndexHeader.ChainHead = Get32(Buf + 18);
    FIndexHeader.FreeHead = Get32(Buf + 22);
    FIndexHeader.InUse = Get32(Buf + 26);
    FIndexHeader.Allocated = Get32(Buf + 30);
  }
  if (FFiles.ReadAt(FDataStream, Buf, DataHeaderSize, 0)) {
    GetVersionPart(Buf, FDataHeader);
    FDataHeader.FreeHead = Get32(Buf + 18);
    FDataHeader.InUse = Get32(Buf + 22);
    FDataHeader.Allocated = Get32(Buf + 26);
  }
  // Records behind the end of a file cannot be read anyway; a damaged count must not
  // make us trust them (or overflow when it grows).
  const auto Records = [](int64_t Size, int32_t Header, int32_t Record) {
    return static_cast<int32_t>(std::max<int64_t>(0, (Size - Header) / Record));
  };
  FIndexHeader.Allocated = std::clamp(FIndexHeader.Allocated, 0,
                                      Records(FFiles.FileSize(FIndexFileName), IndexHeaderSize, IndexRecordSize));
  FDataHeader.Allocated = std::clamp(FDataHeader.Allocated, 0,
                                     Records(FFiles.FileSize(FDataFileName), DataHeaderSize, DataRecordSize));
  // The count of data records in use only goes up and down from here: a damaged one at the
  // edge of the range would overflow.
  FDataHeader.InUse = std::clamp(FDataHeader.InUse, 0, FDataHeader.Allocated);

  // Walk the sorted chain. A damaged file can hold a loop, a free record, a name out of
  // order or an unreadable record; the walk ends there and the chain is cut behind the
  // last good record, so the file agrees with the list again.
  std::lock_guard<std::mutex> L(FEntriesLock);
  FEntries.clear();
  FEntries.reserve(static_cast<size_t>(std::clamp(FIndexHeader.InUse, 0, std::max(FMaxEntries, 0))));
  std::set<int32_t> Seen;
  int32_t N = FIndexHeader.ChainHead, Last = 0;
  bool Cut = false;
  while (N > 0) {
    TDNSDomainRecord R;
    if (Seen.count(N) || !ReadIndexRecord(N, R) || R.Valid != 1 ||
        (!FEntries.empty() && !(FEntries.back().Domain < R.Domain))) {
      Cut = true;
      break;
    }
    Seen.insert(N);
    FEntries.push_back({N, R.Domain, R.LookupTime});
    Last = N;
    N = R.NextRecNo;
  }
  bool HeaderChanged = false;
  if (Cut) {
    TDNSDomainRecord R;
    if (Last == 0) {
      FIndexHeader.ChainHead = 0;
      HeaderChanged = true;
    } else if (ReadIndexRecord(Last, R)) {
      R.NextRecNo = 0;
      WriteIndexRecord(Last, R);
    }
  }
  if (FIndexHeader.InUse != static_cast<int32_t>(FEntries.size())) {
    FIndexHeader.InUse = static_cast<int32_t>(FEntries.size());
    HeaderChanged = true;
  }
  if (HeaderChanged) WriteIndexHeader();
  RepairFreeLists();
}

// Cuts either free list where it loops, leaves the file or meets a record in use, so that
// a damaged file never hands out one record twice.
void TVexaDNSFile::RepairFreeLists() {
  std::set<int32_t> InUse;
  for (const auto& E : FEntries) InUse.insert(E.RecNo);
  {
    std::set<int32_t> Seen;
    int32_t N = FIndexHeader.FreeHead, Last = 0;
    TDNSDomainRecord R;
    while (N > 0 && !Seen.count(N) && !InUse.count(N) && ReadIndexRecord(N, R) && R.Valid == 0) {
      Seen.insert(N);
      Last = N;
      N = R.NextRecNo;
    }
    if (N > 0) {
      if (Last == 0) {
        FIndexHeader.FreeHead = 0;
        WriteIndexHeader();
      } else if (ReadIndexRecord(Last, R)) {
        R.NextRecNo = 0;
        WriteIndexRecord(Last, R);
      }
    }
  }
  {
    // The data records of every listed domain's exchanger chain.
    std::set<int32_t> Live;
    for (const auto& E : FEntries) {
      TDNSDomainRecord D;
      TDNSMXRecord M;
      if (!ReadIndexRecord(E.RecNo, D)) continue;
      for (int32_t N = D.FirstData; N > 0 && Live.insert(N).second && ReadDataRecord(N, M);) N = M.NextData;
    }
    std::set<int32_t> Seen;
    int32_t N = FDataHeader.FreeHead, Last = 0;
    TDNSMXRecord R;
    while (N > 0 && !Seen.count(N) && !Live.count(N) && ReadDataRecord(N, R)) {
      Seen.insert(N);
      Last = N;
      N = R.NextData;
    }
    if (N > 0 || N < 0) {
      if (Last == 0) {
        FDataHeader.FreeHead = 0;
        WriteDataHeader();
      } else if (ReadDataRecord(Last, R)) {
        R.NextData = 0;
        WriteDataRecord(Last, R);
      }
    }
  }
}

int64_t TVexaDNSFile::IndexPos(int32_t N) const {
  if (N < 1 || N > FIndexHeader.Allocated) return -1;
  return IndexHeaderSize + static_cast<int64_t>(N - 1) * IndexRecordSize;
}

int64_t TVexaDNSFile::DataPos(int32_t N) const {
  if (N < 1 || N > FDataHeader.Allocated) return -1;
  return DataHeaderSize + static_cast<int64_t>(N - 1) * DataRecordSize;
}

bool TVexaDNSFile::ReadIndexRecord(int32_t N, TDNSDomainRecord& R) {
  const int64_t Pos = IndexPos(N);
  unsigned char B[282];
  if (Pos < 0 || !FFiles.ReadAt(FIndexStream, B, IndexRecordSize, Pos)) return false;
  R.RecNo = Get32(B);
  R.NextRecNo = Get32(B + 4);
  R.Domain = GetName(B + 8);
  R.LookupTime = GetDouble(B + 264);
  R.Reserved = B[272];
  R.Valid = B[273];
  R.FirstData = Get32(B + 274);
  R.MXCount = Get32(B + 278);
  return true;
}

bool TVexaDNSFile::WriteIndexRecord(int32_t N, const TDNSDomainRecord& R) {
  const int64_t Pos = IndexPos(N);
  if (Pos < 0) return false;
  unsigned char B[282];
  Put32(B, R.RecNo);
  Put32(B + 4, R.NextRecNo);
  PutName(B + 8, R.Domain);
  PutDouble(B + 264, R.LookupTime);
  B[272] = R.Reserved;
  B[273] = R.Valid;
  Put32(B + 274, R.FirstData);
  Put32(B + 278, R.MXCount);
  return FFiles.WriteAt(FIndexStream, B, IndexRecordSize, Pos);
}

bool TVexaDNSFile::ReadDataRecord(int32_t N, TDNSMXRecord& R) {
  const int64_t Pos = DataPos(N);
  unsigned char B[263];
  if (Pos < 0 || !FFiles.ReadAt(FDataStream, B, DataRecordSize, Pos)) return false;
  R.Host = GetName(B);
  R.Preference = Get16(B + 256);
  R.Valid = B[258];
  R.NextData = Get32(B + 259);
  return true;
}

bool TVexaDNSFile::WriteDataRecord(int32_t N, const TDNSMXRecord& R) {
  const int64_t Pos = DataPos(N);
  if (Pos < 0) return false;
  unsigned char B[263];
  PutName(B, R.Host);
  Put16(B + 256, R.Preference);
  B[258] = R.Valid;
  Put32(B + 259, R.NextData);
  return FFiles.WriteAt(FDataStream, B, DataRecordSize, Pos);
}

bool TVexaDNSFile::WriteIndexHeader() {
  unsigned char B[34];
  EncodeIndexHeader(B, FIndexHeader);
  return FFiles.WriteAt(FIndexStream, B, IndexHeaderSize, 0);
}

bool TVexaDNSFile::WriteDataHeader() {
  unsigned char B[30];
  EncodeDataHeader(B, FDataHeader);
  return FFiles.WriteAt(FDataStream, B, DataHeaderSize, 0);
}

bool TVexaDNSFile::InEntries(int32_t RecNo) const {
  for (const auto& E : FEntries)
    if (E.RecNo == RecNo) return true;
  return false;
}

int TVexaDNSFile::Search(const std::string& Key) {
  if (Trim(Key).empty()) throw EVexaDNSSearchError("Invalid DomainName");
  std::lock_guard<std::mutex> L(FEntriesLock);
  const int N = static_cast<int>(FEntries.size());
  // std::string compares bytes unsigned, the shorter name first on a common prefix.
  const auto At = [&](int P) -> const std::string& { return FEntries[P - 1].Domain; };
  if (N == 0) return 0;
  if (N == 1) {
    if (Key == At(1)) return 1;
    return Key < At(1) ? 0 : -2;
  }
  int Lo = 1, Hi = N;
  if (Key == At(Lo)) return 1;
  if (Key < At(Lo)) return 0;
  if (Key == At(Hi)) return N;
  if (Key > At(Hi)) return -(N + 1);
  int Mid = (Lo + Hi) / 2;
  while (Lo < Mid && Hi > Mid) {
    if (Key == At(Mid)) return Mid;
    if (Key > At(Mid))
      Lo = Mid;
    else
      Hi = Mid;
    Mid = (Lo + Hi) / 2;
  }
  return -Mid;
}

TDNSDomainRecordPtr TVexaDNSFile::Lookup(const std::string& Domain, int Slot) {
  std::lock_guard<std::mutex> Guard(FLock);
  const std::string Key = CutName(LowerCase(Domain));
  int Pos = Search(Key);
  if (Pos > 0) {
    {
      std::lock_guard<std::mutex> L(FEntriesLock);
      TDNSDomainRecordPtr Record(NewDomainRecord());
      if (!ReadIndexRecord(FEntries[Pos - 1].RecNo, *Record)) return nullptr;
      if (LoadMXChain(*Record)) return Record;
      // An entry whose chain yields no exchanger would answer "nothing" for good: it
      // goes, and the servers are asked as for a name never seen.
      RemoveEntry(static_cast<size_t>(Pos - 1));
    }
    Pos = Search(Key);
  }
  if (!FQuery) return nullptr;
  std::string Primary, Secondary;
  {
    std::lock_guard<std::mutex> L(FServersLock);
    Primary = FPrimaryServer;
    Secondary = FSecondaryServer;
  }
  TDNSDomainRecordPtr Record = FQuery->Query(Slot, Primary, Key, FTimeout);
  if (FStopped) return nullptr;
  if (!Record) Record = FQuery->Query(Slot, Secondary, Key, FTimeout);
  if (!Record || FStopped) return nullptr;
  Insert(-Pos, *Record);
  return Record;
}

bool TVexaDNSFile::LoadMXChain(TDNSDomainRecord& Record) {
  std::set<int32_t> Seen;  // a damaged chain may loop
  for (int32_t N = Record.FirstData; N > 0 && Seen.insert(N).second;) {
    auto* MX = NewMXRecord();
    if (!ReadDataRecord(N, *MX)) {
      delete MX;
      break;
    }
    InsertMXRecord(MX, &Record, false);
    N = MX->NextData;
  }
  return Record.FirstMX != nullptr;
}

void TVexaDNSFile::Insert(int Pos, TDNSDomainRecord& Record) {
  if (!Record.FirstMX || Pos < 0) return;
  if (FIndexHeader.InUse >= FMaxEntries) {
    RemoveOldest(1);
    // The eviction may have taken an entry in front of Pos: find the place again.
    const int Again = Search(Record.Domain);
    if (Again > 0) return;
    Pos = -Again;
  }
  const int32_t N = AllocIndexRecord();
  Record.RecNo = N;
  const TDNSCacheEntry Entry{N, Record.Domain, Record.LookupTime};

  std::lock_guard<std::mutex> L(FEntriesLock);
  size_t At = 0;
  int32_t PredNo = 0, PredNext = 0;
  TDNSDomainRecord P;
  if (Pos == 0) {
    FEntries.insert(FEntries.begin(), Entry);
    Record.NextRecNo = FIndexHeader.ChainHead;
  } else {
    const size_t Pred = std::min(static_cast<size_t>(Pos), FEntries.size()) - 1;
    PredNo = FEntries[Pred].RecNo;
    if (!ReadIndexRecord(PredNo, P)) throw EVexaDNSIndexFileReadError("Read DNS index file error!");
    At = Pred + 1;
    FEntries.insert(FEntries.begin() + static_cast<std::ptrdiff_t>(At), Entry);
    PredNext = P.NextRecNo;
    Record.NextRecNo = P.NextRecNo;
    P.NextRecNo = N;
    WriteIndexRecord(PredNo, P);
  }
  // A domain that could not be stored must not stay listed: later lookups would find an
  // entry without a record, and every insert behind it would fail to read it.
  const auto Undo = [&] {
    FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(At));
    if (PredNo) {
      P.NextRecNo = PredNext;
      WriteIndexRecord(PredNo, P);
    }
  };
  if (!WriteMXChain(Record)) {
    Undo();
    throw EVexaDNSDataFileWriteError("DNS data file write error");
  }
  if (!WriteIndexRecord(N, Record)) {
    FreeDataChain(Record.FirstData);
    Undo();
    throw EVexaDNSIndexFileWriteError("DNS index file write error");
  }
  if (Pos == 0) FIndexHeader.ChainHead = N;
  ++FIndexHeader.InUse;
  WriteIndexHeader();
}

bool TVexaDNSFile::WriteMXChain(TDNSDomainRecord& Record) {
  if (Record.FirstData != 0) FreeDataChain(Record.FirstData);
  if (!Record.FirstMX) return false;
  int32_t Prev = 0;
  for (TDNSMXRecord* MX = Record.FirstMX; MX; MX = MX->Next) {
    MX->NextData = Prev;
    Prev = AllocDataRecord();
    WriteDataRecord(Prev, *MX);
    ++FDataHeader.InUse;
  }
  Record.FirstData = Prev;
  WriteDataHeader();
  return true;
}

int32_t TVexaDNSFile::AllocIndexRecord() {
  if (FIndexHeader.FreeHead > 0) {
    TDNSDomainRecord R;
    const int32_t N = FIndexHeader.FreeHead;
    bool Used;
    {
      std::lock_guard<std::mutex> L(FEntriesLock);
      Used = InEntries(N);
    }
    if (!Used && ReadIndexRecord(N, R) && R.Valid == 0) {
      FIndexHeader.FreeHead = R.NextRecNo;
      return N;
    }
    FIndexHeader.FreeHead = 0;
  }
  return ++FIndexHeader.Allocated;
}

int32_t TVexaDNSFile::AllocDataRecord() {
  if (FDataHeader.FreeHead != 0) {
    TDNSMXRecord R;
    const int32_t N = FDataHeader.FreeHead;
    if (ReadDataRecord(N, R)) {
      FDataHeader.FreeHead = R.NextData;
      return N;
    }
    FDataHeader.FreeHead = 0;
  }
  return ++FDataHeader.Allocated;
}

void TVexaDNSFile::FreeIndexRecord(int32_t N) {
  TDNSDomainRecord R;
  if (!ReadIndexRecord(N, R)) R.RecNo = N;
  R.Valid = 0;
  R.NextRecNo = FIndexHeader.FreeHead;
  if (!WriteIndexRecord(N, R)) return;
  FIndexHeader.FreeHead = N;
  --FIndexHeader.InUse;
  WriteIndexHeader();
}

void TVexaDNSFile::FreeDataChain(int32_t First) {
  if (First == 0) return;
  std::set<int32_t> Seen;
  int32_t N = First, LastNo = 0, Length = 0;
  TDNSMXRecord Last;
  do {
    if (!Seen.insert(N).second || !ReadDataRecord(N, Last)) return;  // unreadable or looping: keep all
    LastNo = N;
    ++Length;
    N = Last.NextData;
  } while (N > 0);
  Last.NextData = FDataHeader.FreeHead;
  if (!WriteDataRecord(LastNo, Last)) return;
  FDataHeader.FreeHead = First;
  FDataHeader.InUse -= Length;
  WriteDataHeader();
}

void TVexaDNSFile::RemoveOldest(int Count) {
  for (int I = 0; I < Count; ++I) {
    std::lock_guard<std::mutex> L(FEntriesLock);
    if (FEntries.empty()) return;
    size_t Victim = 0;
    for (size_t J = 1; J < FEntries.size(); ++J)
      if (FEntries[J].LookupTime < FEntries[Victim].LookupTime) Victim = J;
    TDNSDomainRecord V;
    if (!ReadIndexRecord(FEntries[Victim].RecNo, V)) return;
    if (Victim == 0) {
      FIndexHeader.ChainHead = V.NextRecNo;
    } else {
      TDNSDomainRecord P;
      const int32_t PrevNo = FEntries[Victim - 1].RecNo;
      if (ReadIndexRecord(PrevNo, P)) {
        P.NextRecNo = V.NextRecNo;
        WriteIndexRecord(PrevNo, P);
      }
    }
    FreeIndexRecord(FEntries[Victim].RecNo);
    FreeDataChain(V.FirstData);
    FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(Victim));
  }
}

void TVexaDNSFile::Delete(const std::string& Domain) {
  std::lock_guard<std::mutex> Guard(FLock);
  const int Pos = Search(CutName(Domain));
  if (Pos <= 0) return;
  std::lock_guard<std::mutex> L(FEntriesLock);
  RemoveEntry(static_cast<size_t>(Pos - 1));
}

void TVexaDNSFile::RemoveEntry(size_t At) {
  TDNSDomainRecord D;
  if (ReadIndexRecord(FEntries[At].RecNo, D)) {
    FreeIndexRecord(FEntries[At].RecNo);
    FreeDataChain(D.FirstData);
    if (At == 0) {
      FIndexHeader.ChainHead = D.NextRecNo;
      WriteIndexHeader();
    } else {
      TDNSDomainRecord P;
      const int32_t PrevNo = FEntries[At - 1].RecNo;
      if (ReadIndexRecord(PrevNo, P)) {
        P.NextRecNo = D.NextRecNo;
        WriteIndexRecord(PrevNo, P);
      }
    }
  }
  FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(At));
}

void TVexaDNSFile::SetDNSServers(const std::string& Primary, const std::string& Secondary) {
  std::lock_guard<std::mutex> L(FServersLock);
  FPrimaryServer = CutName(Primary);
  FSecondaryServer = CutName(Secondary);
}

void TVexaDNSFile::Stop() { FStopped = true; }

std::vector<TDNSCacheEntry> TVexaDNSFile::GetEntries() {
  std::lock_guard<std::mutex> L(FEntriesLock);
  return FEntries;
}

TDNSIndexHeader TVexaDNSFile::GetIndexHeader() {
  std::lock_guard<std::mutex> Guard(FLock);
  return FIndexHeader;
}

TDNSDataHeader TVexaDNSFile::GetDataHeader() {
  std::lock_guard<std::mutex> Guard(FLock);
  return FDataHeader;
}
