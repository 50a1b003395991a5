#pragma once
// The MX cache the delivery engine asks: the most recently used domain records in memory,
// every miss sent to the disk cache, which asks the DNS servers.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/dns/DNSBase.h"
#include "engine/dns/DNSFile.h"
#include "engine/dns/DNSQuery.h"
#include "engine/store/MailData.h"

class TVexaDNSCache : public TDNSCache {
public:
  // Creates the data folder and its "dns" folder, the resolver pool and the disk cache,
  // with the servers in CurrentDNSPrimary / CurrentDNSSecondary. Files (not owned) lets
  // a test put in a disk of its own; null is the real disk.
  TVexaDNSCache() : TVexaDNSCache(nullptr) {}
  explicit TVexaDNSCache(TDNSFileAccess* Files);
  ~TVexaDNSCache() override;

  // A copy of the cached record that the caller owns (see TDNSCache). All lookups are
  // serialised: both locks stay held across the disk cache and the DNS queries. The disk
  // cache's file errors pass to the caller.
  TDNSDomainRecordPtr GetMX(const std::string& Domain, int Slot) override;
  // Drops Domain (exact name) from memory and, when it was there, from disk.
  bool Remove(const std::string& Domain) override;
  // Ends a running query (it answers null); every later GetMX answers null.
  void Stop() override;

  // Takes the servers the next lookups ask. A host name is resolved here, once, to its
  // address; a server that cannot be used is logged (red) and left out.
  void SetDNSServers(const std::string& Primary, const std::string& Secondary);
  // Set before SetDNSServers; called on the caller's thread.
  TLogEvent OnLog;

  // The cached domain names, most recently used first.
  std::vector<std::string> CachedDomains();
  TVexaDNSFile& GetDiskCache() { return *FDiskCache; }

private:
  // The address form of Server for the resolver; empty (and logged) when it is unusable.
  std::string ServerAddress(const std::string& Server);

  std::mutex FRecordsLock;
  std::vector<TDNSDomainRecordPtr> FRecords;  // owned, most recently used first
  std::unique_ptr<TVexaDNSQuery> FQuery;
  std::string FPrimaryServer, FSecondaryServer;
  std::atomic<bool> FStopped{false};
  std::mutex FLock;
  std::unique_ptr<TVexaDNSFile> FDiskCache;
};
