#pragma once
// A line-based test client over loopback: send a line, read the reply line.
#include <memory>
#include <string>

#include "engine/net/TcpConnection.h"

class TLineClient {
public:
  // Connects to Host:Port, optionally from SourceIP (a second loopback address such as
  // 127.0.0.2 makes a client from "another machine").
  explicit TLineClient(int Port, const std::string& Host = "127.0.0.1", const std::string& SourceIP = "");

  void Send(const std::string& Line) { FConn->WriteLn(Line); }
  // One line, waiting at most 5 seconds; "<closed>" when the server closed the connection.
  std::string Read();
  // Sends Line and reads one reply line.
  std::string Cmd(const std::string& Line) {
    Send(Line);
    return Read();
  }
  TTcpConnection& Conn() { return *FConn; }

private:
  std::unique_ptr<TTcpConnection> FConn;
};
