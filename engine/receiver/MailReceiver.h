#pragma once
// The mail intake: owns the SMTP server, applies the server settings when it starts, keeps
// the access rules (local clients only, client address rules, connection slots), checks
// senders and logins, and hands every complete message to the mail store.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/settings/ListFormats.h"
#include "engine/smtp/zqSMTPServer.h"
#include "engine/store/MailData.h"

class TMailStore;

// Start could not bind a listening socket; carries the socket layer's message.
class ECouldNotBindSocket : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One connection slot.
struct TClientData {
  int32_t Number = 0;                    // 1 to n in creation order
  std::string PeerIP;                    // the client's address while taken
  TzqSMTPServerThread* Thread = nullptr;  // the connection holding the slot
  bool Free = true;
};

class TMailReceiver {
public:
  // One client address rule; a client address a matches when (Addr & Mask) == (a & Mask).
  struct TIPRule {
    uint32_t Addr = 0;
    uint32_t Mask = 0;
  };

  explicit TMailReceiver(TMailStore* Store);
  ~TMailReceiver();
  TMailReceiver(const TMailReceiver&) = delete;
  TMailReceiver& operator=(const TMailReceiver&) = delete;

  // Builds slots, rules and lists from the settings and starts listening. Raises
  // ECouldNotBindSocket when a port is taken and std::runtime_error("Unknown Error") for any
  // other failure; the receiver then stays inactive.
  void Start();
  // Ends every connection, frees slots, rules and lists.
  void Stop();

  TLogEvent OnLog;
  TMailStore* const Store;
  TzqSMTPServer Server;
  std::vector<std::unique_ptr<TClientData>> Slots;  // guarded by SlotsLock while the server runs
  std::mutex SlotsLock;
  std::atomic<bool> Active{false};
  bool IPUseGranted = false;
  std::vector<TIPRule> IPGrantRules;
  std::vector<TIPRule> IPDenyRules;
  bool UseAttachmentFilter = false;
  std::vector<std::string> BlockedExts;
  bool FromCheck = false;
  bool FromUseGranted = false;
  std::vector<std::string> FromGrantList;
  std::vector<std::string> FromDenyList;

  // Handlers of the server's events; they run on connection threads.
  void ClientConnect(TzqSMTPServerThread& Thread);
  void ClientDisconnect(TzqSMTPServerThread& Thread);
  // Takes the lines out of Data into the stored mail.
  void MailReceived(TzqSMTPServerThread& Thread, const std::string& MailFrom, const std::vector<std::string>& Recipients,
                    std::vector<std::string>& Data);
  bool CheckLogin(const std::string& User, const std::string& Password);
  bool CheckFrom(const std::string& Address);

  void DoLog(uint8_t Level, const std::string& Text);
  // True when the client address rules let Address in.
  bool IPAllowed(const std::string& Address) const;
};
