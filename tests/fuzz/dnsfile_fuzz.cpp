// The DNS disk cache over index and data files of any content, on a disk in memory: it
// opens them, then runs lookups (answered here instead of by a server), inserts, deletes
// and reopens, and the domain list must stay sorted and agree with the files.
//
// Input: byte 0 the largest number of entries, bytes 1-2 and 3-4 the sizes of the index
// and data file (as parts of what is left), the rest the two files and then the
// operations, one byte each (with a second byte for the name).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/dns/DNSFile.h"

namespace {

class TMemoryDisk : public TDNSFileAccess {
public:
  std::map<std::string, std::string> Files;
  std::map<int, std::string> Open;
  int Next = 3;

  int64_t FileSize(const std::string& Path) override {
    auto It = Files.find(Path);
    return It == Files.end() ? -1 : static_cast<int64_t>(It->second.size());
  }
  bool CreateFile(const std::string& Path, const void* Data, size_t Size) override {
    Files[Path].assign(static_cast<const char*>(Data), Size);
    return true;
  }
  int OpenFile(const std::string& Path) override {
    if (!Files.count(Path)) {
      errno = ENOENT;
      return -1;
    }
    Open[Next] = Path;
    return Next++;
  }
  bool ReadAt(int Handle, void* Buf, size_t Size, int64_t Pos) override {
    auto It = Open.find(Handle);
    if (It == Open.end() || Pos < 0) abort();  // a handle we never gave out
    const std::string& F = Files[It->second];
    if (static_cast<uint64_t>(Pos) + Size > F.size()) return false;
    std::memcpy(Buf, F.data() + Pos, Size);
    return true;
  }
  bool WriteAt(int Handle, const void* Buf, size_t Size, int64_t Pos) override {
    auto It = Open.find(Handle);
    if (It == Open.end() || Pos < 0) abort();
    if (Pos > (int64_t(1) << 24)) abort();  // a file never grows that far here
    std::string& F = Files[It->second];
    if (F.size() < static_cast<uint64_t>(Pos) + Size) F.resize(static_cast<size_t>(Pos) + Size, '\0');
    std::memcpy(F.data() + Pos, Buf, Size);
    return true;
  }
  void CloseFile(int Handle) override {
    if (!Open.erase(Handle)) abort();  // closed twice
  }
};

// Answers for the servers: how many exchangers a name has comes from the operation byte.
class TScriptedQuery : public TVexaDNSQuery {
public:
  TScriptedQuery() : TVexaDNSQuery(0) {}
  uint8_t Answer = 0;
  TDNSDomainRecordPtr Query(int, const std::string&, const std::string& Domain, int) override {
    if (Answer % 5 == 0) return nullptr;
    TDNSDomainRecordPtr R(NewDomainRecord());
    R->Domain = Domain;
    R->Valid = 1;
    R->LookupTime = 46000.0 + Answer;
    for (int I = 0; I < Answer % 5; ++I) {
      TDNSMXRecord* MX = NewMXRecord();
      MX->Host = "mx" + std::to_string(I) + "." + Domain;
      MX->Preference = static_cast<uint16_t>((Answer * (I + 7)) % 30);
      MX->Valid = 1;
      InsertMXRecord(MX, R.get(), true);
    }
    return R;
  }
};

const char* const IndexFile = "/fuzz/dns/DNSCache.idx";
const char* const DataFile = "/fuzz/dns/DNSCache.dat";

std::vector<std::string> Names(TVexaDNSFile& F) {
  std::vector<std::string> N;
  for (const auto& E : F.GetEntries()) N.push_back(E.Domain);
  for (size_t I = 1; I < N.size(); ++I)
    if (!(N[I - 1] < N[I])) abort();
  return N;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 5) return 0;
  const int MaxEntries = 1 + Data[0] % 8;
  const size_t Rest = Size - 5;
  const size_t IndexLen = Rest * (Data[1] | Data[2] << 8) / 65536;
  const size_t DataLen = (Rest - IndexLen) * (Data[3] | Data[4] << 8) / 65536;
  const char* P = reinterpret_cast<const char*>(Data + 5);
  TMemoryDisk Disk;
  Disk.Files[IndexFile].assign(P, IndexLen);
  Disk.Files[DataFile].assign(P + IndexLen, DataLen);
  const uint8_t* Ops = Data + 5 + IndexLen + DataLen;
  const size_t OpCount = Rest - IndexLen - DataLen;

  TScriptedQuery Query;
  auto File = std::make_unique<TVexaDNSFile>(&Query, MaxEntries, IndexFile, DataFile, "127.0.0.1", "", 1000, &Disk);
  std::vector<std::string> Known = Names(*File);
  for (size_t I = 0; I + 1 < OpCount; I += 2) {
    const uint8_t Op = Ops[I], Arg = Ops[I + 1];
    std::string Name;
    if (Op & 8) {
      const auto N = Names(*File);
      Name = N.empty() ? std::string("a.example") : N[Arg % N.size()];
    } else {
      Name = std::string(1, static_cast<char>('a' + Arg % 16)) + ".example";
    }
    try {
      switch (Op % 4) {
        case 0:
        case 1: {
          Query.Answer = Arg;
          TDNSDomainRecordPtr R = File->Lookup(Name, 0);
          if (R && R->Domain.empty()) abort();
          break;
        }
        case 2:
          File->Delete(Name);
          break;
        case 3: {
          // The files say what the list said.
          const auto Before = Names(*File);
          File.reset();
          File = std::make_unique<TVexaDNSFile>(&Query, MaxEntries, IndexFile, DataFile, "127.0.0.1", "", 1000, &Disk);
          if (Names(*File) != Before) abort();
          break;
        }
      }
    } catch (const EVexaDNSSearchError&) {
    } catch (const EVexaDNSIndexFileReadError&) {
    } catch (const EVexaDNSDataFileWriteError&) {
    } catch (const EVexaDNSIndexFileWriteError&) {
    }
    (void)Names(*File);
  }
  (void)File->GetIndexHeader();
  (void)File->GetDataHeader();
  return 0;
}
