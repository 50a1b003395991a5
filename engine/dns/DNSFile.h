#pragma once
// The disk cache of MX answers: "DNSCache.idx" holds one 282-byte index record per domain,
// chained in ascending byte order of the name; "DNSCache.dat" holds one 263-byte data
// record per exchanger, chained per domain from the highest preference down. Both files
// keep a free list and never shrink. Only the sorted names stay in memory. A miss asks
// the primary, then the secondary DNS server, and stores the answer.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/dns/DNSBase.h"
#include "engine/dns/DNSFileAccess.h"
#include "engine/dns/DNSQuery.h"

class EVexaDNSSearchError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};
class EVexaDNSIndexFileReadError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};
class EVexaDNSDataFileWriteError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};
class EVexaDNSIndexFileWriteError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TDNSIndexHeader {
  char Magic[8] = {};
  uint16_t VersionMajor = 0, VersionMinor = 0, VersionRelease = 0, VersionBuild = 0;
  uint16_t HeaderSize = 0;
  int32_t ChainHead = 0;
  int32_t FreeHead = 0;
  int32_t InUse = 0;
  int32_t Allocated = 0;
};

struct TDNSDataHeader {
  char Magic[8] = {};
  uint16_t VersionMajor = 0, VersionMinor = 0, VersionRelease = 0, VersionBuild = 0;
  uint16_t HeaderSize = 0;
  int32_t FreeHead = 0;
  int32_t InUse = 0;
  int32_t Allocated = 0;
};

// One domain of the in-memory list, which mirrors the index chain in the same order.
struct TDNSCacheEntry {
  int32_t RecNo = 0;
  std::string Domain;
  TDateTime LookupTime = 0;
};

class TVexaDNSFile {
public:
  // Opens (or creates) both files. Query and Files are not owned; null Files is the disk.
  TVexaDNSFile(TVexaDNSQuery* Query, int MaxEntries, const std::string& IndexFileName, const std::string& DataFileName,
               const std::string& PrimaryServer, const std::string& SecondaryServer, int Timeout,
               TDNSFileAccess* Files = nullptr);
  ~TVexaDNSFile();
  TVexaDNSFile(const TVexaDNSFile&) = delete;
  TVexaDNSFile& operator=(const TVexaDNSFile&) = delete;

  // The MX record of Domain (lower-cased) from disk, else from the DNS servers (then
  // stored when it has exchangers); a new record the caller owns, or null. Raises
  // EVexaDNSSearchError for a blank name and the file errors of a failed store.
  TDNSDomainRecordPtr Lookup(const std::string& Domain, int Slot);
  // Forgets Domain (searched as given, not lower-cased).
  void Delete(const std::string& Domain);
  void SetDNSServers(const std::string& Primary, const std::string& Secondary);
  // From now on nothing is stored and a miss answers null; final.
  void Stop();

  // Position of Key among the entries, counted from 1; 0 or below is a miss whose
  // negation is the entry it belongs behind (0: before the first).
  int Search(const std::string& Key);

  std::vector<TDNSCacheEntry> GetEntries();
  TDNSIndexHeader GetIndexHeader();
  TDNSDataHeader GetDataHeader();

  const int32_t IndexHeaderSize = 34;
  const int32_t DataHeaderSize = 30;
  const int32_t IndexRecordSize = 282;
  const int32_t DataRecordSize = 263;

private:
  void CreateFiles();
  void Open();
  void Close();
  void RepairFreeLists();
  void Insert(int Pos, TDNSDomainRecord& Record);
  void RemoveOldest(int Count);
  // Unlinks entry At (from 0) from the chain and frees its records; the entries' lock is held.
  void RemoveEntry(size_t At);
  bool LoadMXChain(TDNSDomainRecord& Record);
  bool WriteMXChain(TDNSDomainRecord& Record);
  int32_t AllocIndexRecord();
  int32_t AllocDataRecord();
  void FreeIndexRecord(int32_t N);
  void FreeDataChain(int32_t First);
  int64_t IndexPos(int32_t N) const;
  int64_t DataPos(int32_t N) const;
  bool ReadIndexRecord(int32_t N, TDNSDomainRecord& R);
  bool WriteIndexRecord(int32_t N, const TDNSDomainRecord& R);
  bool ReadDataRecord(int32_t N, TDNSMXRecord& R);
  bool WriteDataRecord(int32_t N, const TDNSMXRecord& R);
  bool WriteIndexHeader();
  bool WriteDataHeader();
  bool InEntries(int32_t RecNo) const;
  int OpenReadWrite(const std::string& Name);

  TDNSFileAccess& FFiles;

  std::mutex FEntriesLock;
  std::vector<TDNSCacheEntry> FEntries;
  std::string FIndexFileName, FDataFileName;
  TDNSIndexHeader FIndexHeader;
  TDNSDataHeader FDataHeader;
  int32_t FMaxEntries;
  TVexaDNSQuery* FQuery;
  std::atomic<bool> FStopped{false};
  int FIndexStream = -1, FDataStream = -1;
  std::mutex FServersLock;  // the servers may change while a lookup reads them
  std::string FPrimaryServer, FSecondaryServer;
  int32_t FTimeout;
  std::mutex FLock;
};
