#include "support/LineClient.h"

#include "engine/net/SocketErrors.h"

TLineClient::TLineClient(int Port, const std::string& Host, const std::string& SourceIP)
    : FConn(TTcpConnection::Connect(Host, Port, 5000, SourceIP)) {}

std::string TLineClient::Read() {
  try {
    return FConn->ReadLn(5000);
  } catch (const EReadTimeout&) {
    throw;
  } catch (const ESocketError&) {
    return "<closed>";  // closed or reset by the server
  }
}
