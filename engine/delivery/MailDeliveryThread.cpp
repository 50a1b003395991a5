#include "engine/delivery/MailDeliveryThread.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"

namespace {
// The message text's length with a two-character line break after every line.
int64_t MessageSize(const std::vector<std::string>& Lines) {
  int64_t N = 0;
  for (const auto& L : Lines) N += static_cast<int64_t>(L.size()) + 2;
  return N;
}

// Shown when the exchangers failed and the relay servers are tried next.
const char* const DirectFailedLine = "Direct delivery to the mail exchange hosts failed. Try the relay SMTP servers now. ";
}  // namespace

TMailDeliveryThread::TMailDeliveryThread(TEvent& DoneEvent, int32_t Index) : DoneEvent(DoneEvent), Index(Index) {
  Client.LocalServerPort = SMTPPort;
  Client.OnLog = [this](TzqSMTPClient&, const std::string& Line) { ClientLog(Line); };
  Client.OnProgress = [this](TzqSMTPClient&, int32_t Percent) { ClientProgress(Percent); };
}

TMailDeliveryThread::~TMailDeliveryThread() {
  Terminate();
  WaitFor();
}

void TMailDeliveryThread::Start() {
  FAlive = true;
  FThread = std::thread([this] { Execute(); });
}

void TMailDeliveryThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TMailDeliveryThread::Terminate() {
  FTerminated = true;
  WakeEvent.SetEvent();
}

void TMailDeliveryThread::Execute() {
  while (!FTerminated) {
    // A mail handed over just as the thread ends is filed as stopped by the module.
    if (WakeEvent.WaitFor(500) && !FTerminated) DeliverMail();
  }
  FAlive = false;
}

void TMailDeliveryThread::SetMailState(TMailState State) {
  Mail.State = State;
  FState.store(State, std::memory_order_release);
}

void TMailDeliveryThread::Abort() {
  Stopping = true;
  Client.Stop();
  Terminate();
}

void TMailDeliveryThread::RepeatStop() {
  std::lock_guard<std::mutex> G(FAttemptLock);
  if (Busy) Client.Stop();
}

bool TMailDeliveryThread::Cancel(const std::string& ID) {
  std::lock_guard<std::mutex> G(FAttemptLock);
  if (!Busy || FAttemptID != ID) return false;
  FCancelled = true;
  Client.Stop();
  return true;
}

void TMailDeliveryThread::AddLog(const std::string& Line) { Mail.Log.push_back(Line); }

void TMailDeliveryThread::ClientLog(const std::string& Line) {
  // Each dialogue clears the client's abort flag as it begins; one that begins after an
  // abort or a cancel is stopped again at its first line, before it connects.
  if (IsStopping() && !Client.Stopped) Client.Stop();
  Mail.Log.push_back(Line);
  DoDeliveryLog(Mail.ID, Line, LastPercent);
}

void TMailDeliveryThread::ClientProgress(int32_t Percent) {
  DoDeliveryLog(Mail.ID, std::string(), Percent);
  LastPercent = Percent;
}

void TMailDeliveryThread::DoDeliveryLog(const std::string& MailID, const std::string& Text, int32_t Percent) {
  if (OnDeliveryLog) OnDeliveryLog(MailID.substr(0, 10), Text, Percent);
}

void TMailDeliveryThread::RecordLastReply() {
  AddLog("");
  if (Client.LastResponse.Code != 0) {
    Mail.LastError = fmt::format("{} {}", Client.LastResponse.Code, Client.LastResponse.Text);
    AddLog(Mail.LastError);
  }
}

bool TMailDeliveryThread::TryRelay(const TRelaySMTPItem& Relay, int64_t Size, int32_t& Result) {
  if (Relay.Auth) {
    Client.UseAuthLogin = true;
    Client.Username = Relay.Username;
    Client.Password = Relay.Password;
  } else {
    Client.UseAuthLogin = false;
  }
  AddLog("Try to relay mail to " + Relay.Host + ".");
  AddLog(fmt::format("Message size: {} Bytes.", Size));
  AddLog("");
  AddLog("Mail sending details:");
  Client.LastResponse = TSMTPResponse();
  const std::string Sender = Trim(Relay.Email).empty() ? Mail.MailFrom : Relay.Email;
  try {
    Result = Client.SendMail(Relay.Host, Relay.Port, Sender, Mail.GetRecipient(0), Mail.Data);
  } catch (...) {
    Mail.Status = dsUnknownError;
    Mail.LastError = "Error: Unknow error.";
    AddLog(Mail.LastError);
    return false;
  }
  RecordLastReply();
  return true;
}

void TMailDeliveryThread::Finish() {
  // A mail that a server accepted stays delivered: filed as stopped it would be sent again.
  if (IsStopping() && Mail.Status != dsDelivered && Mail.Status != dsRelayed) Mail.Status = dsStopped;
  SetMailState(msAttemptDone);
  {
    std::lock_guard<std::mutex> G(FAttemptLock);
    Busy = false;
    FCancelled = false;
    FAttemptID.clear();
  }
  DoneEvent.SetEvent();
}

void TMailDeliveryThread::DeliverMail() {
  // 1. to 3.
  if (Busy) return;
  const TMailState State = MailState();
  if (State == msAttemptDone) {
    DoneEvent.SetEvent();
    return;
  }
  if (State != msWaiting) {
    Reserved = false;
    return;
  }
  // 4. From here on every way out passes through Finish.
  {
    std::lock_guard<std::mutex> G(FAttemptLock);
    Busy = true;
    FAttemptID = Mail.ID;
  }
  try {
    // 5.
    if (Mail.Recipients.empty() || Trim(Mail.Recipients[0]).empty()) {
      AddLog("Recipients address error!");
      Mail.Status = dsAddressError;
      Finish();
      return;
    }
    // 6., 7.
    SetMailState(msSending);
    ApplySocksSettings(Client.SocksInfo);
    const int64_t TimeoutMs = static_cast<int64_t>(SenderConntecTimeout) * 1000;
    Client.Timeout = static_cast<int32_t>(std::clamp<int64_t>(TimeoutMs, INT32_MIN, INT32_MAX));
    Client.HeloName = SenderHostname.get();
    Client.UseAuthLogin = false;
    int32_t Result = arNoRoute;
    const int64_t Size = MessageSize(Mail.Data);
    const std::string Recipient = Mail.GetRecipient(0);
    std::string RelayHost;
    TRelaySMTPItem Relay;

    // 8. Route 1: a relay chosen by the sender.
    if (RelayEnabled && RelayServers && RelayServers->FindRelayServer(Mail.MailFrom, Relay)) {
      if (!TryRelay(Relay, Size, Result)) return Finish();
      if (Result == scAccepted) {
        Result = arRelayed;
        RelayHost = Relay.Host;
      }
    }

    // 9. Route 2: the mail exchangers.
    if (Result != scAccepted && Result != arRelayed) {
      if (RelayEnabled && DisableDirectDelivery) {
        AddLog("Direct mail delivery disabled. Use relay SMTP server to deliver mail.");
        AddLog("");
      } else if (RelayDomains && Mail.ForceRelay) {
        // Straight to the relays.
      } else if (MXHosts.empty()) {
        AddLog("No mail exchange host found! Mail can not be directly delivered!");
        AddLog("");
        Result = arNoMXHost;
      } else {
        for (const auto& Host : MXHosts) {
          if (IsStopping()) {
            Mail.Status = dsStopped;
            return Finish();
          }
          AddLog("Try to deliver message to " + Host + ".");
          AddLog(fmt::format("Message size: {} Bytes.", Size));
          AddLog("");
          AddLog("Mail sending details:");
          Client.LastResponse = TSMTPResponse();
          Client.UseAuthLogin = false;
          try {
            Result = Client.SendMail(Host, 25, Mail.MailFrom, Recipient, Mail.Data);
          } catch (...) {
            Mail.Status = dsUnknownError;
            Mail.LastError = "Error: Unknow error.";
            AddLog(Mail.LastError);
            return Finish();
          }
          RecordLastReply();
          if (Result == scAccepted) break;
        }
      }
    }

    // 10. Route 3: every relay in turn.
    if (Result != scAccepted && Result != arRelayed && RelayEnabled && !IsStopping() && RelayServers) {
      const size_t N = RelayServers->Count();
      if (!Mail.ForceRelay && !DisableDirectDelivery) AddLog(DirectFailedLine);
      for (size_t I = 0; I < N; ++I) {
        // Each dialogue clears the client's abort flag: a stopped attempt must not go on to
        // the next relay, or a mail filed back as waiting could already be delivered.
        if (IsStopping()) break;
        if (!RelayServers->Get(I, Relay)) break;
        if (!TryRelay(Relay, Size, Result)) return Finish();
        if (Result == scAccepted) {
          Result = arRelayed;
          RelayHost = Relay.Host;
          break;
        }
      }
    }

    // 11. Outcome. An accepted mail is delivered even when a stop came after the acceptance.
    if (Result == scAccepted || Result == arRelayed || !IsStopping()) {
      switch (Result) {
        case scAccepted:
          AddLog("Mail delivered successful.");
          Mail.Status = dsDelivered;
          Mail.SentTime = Now();
          break;
        case arRelayed:
          Mail.Status = dsRelayed;
          Mail.SentTime = Now();
          Mail.LastError = RelayHost;
          AddLog("Mail relay to " + RelayHost + " successful.");
          break;
        default:
          Mail.SentTime = 0;
          switch (Result) {
            case arRecipientRejected:
            case scRecipientRejected: Mail.Status = dsRecipientRejected; break;
            case scSenderRejected: Mail.Status = dsSenderRejected; break;
            case scDataRejected: Mail.Status = dsDataRejected; break;
            case scNoReply:
              Mail.Status = dsTimeout;
              Mail.LastError = "Error: Timeout.";
              AddLog(Mail.LastError);
              break;
            case scConnectFailed:
              Mail.Status = dsConnectFailed;
              Mail.LastError = "Error: Can not connect host.";
              AddLog(Mail.LastError);
              break;
            case arNoMXHost:
              Mail.Status = dsAddressError;
              Mail.LastError = "Error: Can not get MX information.";
              AddLog(Mail.LastError);
              break;
            case arNoRoute: break;
            default:
              Mail.Status = dsUnknownError;
              Mail.LastError = "Error: Unknow error.";
              AddLog(Mail.LastError);
              break;
          }
          AddLog("Mail delivered Failed.");
          break;
      }
    }
  } catch (...) {
    // Nothing may leave the attempt without a result: the store counts it.
    Mail.Status = dsUnknownError;
  }
  Finish();
}
