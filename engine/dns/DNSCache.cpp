#include "engine/dns/DNSCache.h"

#include "engine/dns/DNSServerAddress.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

TVexaDNSCache::TVexaDNSCache(TDNSFileAccess* Files) {
  std::string Dir = DataDir.get();
  if (Dir.empty() || Dir.back() != '/') {
    Dir += '/';
    DataDir = Dir;
  }
  // The cache cannot work without its folder: say which folder and why.
  RequireFolder(Dir + "dns/");
  const std::string IndexFile = Dir + "dns" + "/DNSCache.idx";
  const std::string DataFile = Dir + "dns" + "/DNSCache.dat";
  FPrimaryServer = CutName(ServerAddress(CurrentDNSPrimary.get()));
  FSecondaryServer = CutName(ServerAddress(CurrentDNSSecondary.get()));
  FQuery = std::make_unique<TVexaDNSQuery>(ResolverCount.load());
  FDiskCache = std::make_unique<TVexaDNSFile>(FQuery.get(), DNSDiskCacheMaxEntries.load(), IndexFile, DataFile,
                                              FPrimaryServer, FSecondaryServer, DNSQueryTimeout.load(), Files);
  FRecords.reserve(static_cast<size_t>(std::max(DNSMemCacheSize.load(), 0)));
}

TVexaDNSCache::~TVexaDNSCache() {
  FRecords.clear();
  FQuery.reset();
  FDiskCache.reset();
}

TDNSDomainRecordPtr TVexaDNSCache::GetMX(const std::string& DomainText, int Slot) {
  if (FStopped) return nullptr;
  const std::string Domain = CutName(DomainText);
  if (Trim(Domain).empty()) return nullptr;
  std::lock_guard<std::mutex> Guard(FLock);
  std::lock_guard<std::mutex> L(FRecordsLock);
  for (size_t I = 0; I < FRecords.size(); ++I) {
    if (FRecords[I]->Domain != Domain) continue;
    if (I > 0) {
      auto Hit = std::move(FRecords[I]);
      FRecords.erase(FRecords.begin() + static_cast<std::ptrdiff_t>(I));
      FRecords.insert(FRecords.begin(), std::move(Hit));
    }
    return CopyDomainRecord(FRecords.front().get());
  }
  TDNSDomainRecordPtr Record;
  if (UseDNSDiskCache) {
    Record = FDiskCache->Lookup(Domain, Slot);
  } else {
    Record = FQuery->Query(Slot, CurrentDNSPrimary.get(), Domain, DNSQueryTimeout);
    if (!Record && !DNSSecondary.empty()) Record = FQuery->Query(Slot, CurrentDNSSecondary.get(), Domain, DNSQueryTimeout);
  }
  if (!Record) return nullptr;
  TDNSDomainRecordPtr Copy = CopyDomainRecord(Record.get());
  FRecords.insert(FRecords.begin(), std::move(Record));
  while (static_cast<int>(FRecords.size()) > DNSMemCacheSize) FRecords.pop_back();
  return Copy;
}

bool TVexaDNSCache::Remove(const std::string& DomainText) {
  const std::string Domain = CutName(DomainText);
  std::lock_guard<std::mutex> Guard(FLock);
  std::lock_guard<std::mutex> L(FRecordsLock);
  for (size_t I = 0; I < FRecords.size(); ++I) {
    if (FRecords[I]->Domain != Domain) continue;
    FRecords.erase(FRecords.begin() + static_cast<std::ptrdiff_t>(I));
    if (UseDNSDiskCache) FDiskCache->Delete(Domain);
    return true;
  }
  return false;
}

void TVexaDNSCache::Stop() {
  FQuery->Stop();
  FDiskCache->Stop();
  FStopped = true;
}

std::string TVexaDNSCache::ServerAddress(const std::string& Server) {
  std::string Error;
  const std::string Address = ResolveDNSServer(Server, Error);
  if (!Error.empty() && OnLog) OnLog(3, "DNS server " + Server + " can not be used: " + Error);
  return Address;
}

void TVexaDNSCache::SetDNSServers(const std::string& Primary, const std::string& Secondary) {
  // Resolved before the lock: a running lookup must not wait on the system's resolver too.
  const std::string P = ServerAddress(Primary), S = ServerAddress(Secondary);
  std::lock_guard<std::mutex> Guard(FLock);
  FPrimaryServer = CutName(P);
  FSecondaryServer = CutName(S);
  FDiskCache->SetDNSServers(P, S);
}

std::vector<std::string> TVexaDNSCache::CachedDomains() {
  std::lock_guard<std::mutex> Guard(FLock);
  std::lock_guard<std::mutex> L(FRecordsLock);
  std::vector<std::string> Out;
  for (const auto& R : FRecords) Out.push_back(R->Domain);
  return Out;
}
