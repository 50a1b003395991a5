#pragma once
// One connected TCP socket with line-oriented reads and writes: the server's accepted
// connections and the SMTP client's outgoing ones both use it.
//
// Lines are read up to LF; a CR right before the LF is removed. A line may hold at most
// MaxLineLength characters (its CR LF not counted). When more arrive before the LF, the read
// raises ELineTooLong without reading further: at most MaxLineLength + 1 bytes of a line are
// ever held, the rest of that line stays unread in the socket, and the connection is unusable
// for reading from then on (every later read raises ELineTooLong again), so its owner ends it.
//
// Threads: one thread reads and writes; Disconnect may be called from any thread and wakes a
// read or write blocked in that thread. The descriptor is closed only by the destructor.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

class TTcpConnection {
public:
  static constexpr size_t MaxLineLength = 16384;
  static constexpr int InfiniteTimeout = -1;

  // Takes ownership of a connected socket (an accepted one, or one connected elsewhere; a
  // caller that must keep its own descriptor passes a dup() of it).
  explicit TTcpConnection(int Fd);
  ~TTcpConnection();
  TTcpConnection(const TTcpConnection&) = delete;
  TTcpConnection& operator=(const TTcpConnection&) = delete;

  // Connects to Host:Port (IP literal or name). TimeoutMs < 0 waits as long as the system
  // does. SourceIP, when given, is bound as the local address first. Raises ESocketError.
  static std::unique_ptr<TTcpConnection> Connect(const std::string& Host, int Port,
                                                 int TimeoutMs = InfiniteTimeout,
                                                 const std::string& SourceIP = std::string());

  // One line without its line end. TimeoutMs < 0 waits without limit; otherwise the whole
  // line must arrive within TimeoutMs (EReadTimeout). Raises EConnectionClosed when the peer
  // closed the connection, ELineTooLong, or ESocketError.
  std::string ReadLn(int TimeoutMs = InfiniteTimeout);
  // Whether the line ReadLn returned last ended in CR LF (false: a bare LF).
  bool LastLineEndedWithCRLF() const { return FLastCRLF; }
  // Writes S and CR LF in one send.
  void WriteLn(const std::string& S);
  // Writes the bytes as they are.
  void Write(const std::string& Data);
  void Write(const char* Data, size_t Len);

  // Shuts the socket down in both directions: the peer sees the end of the connection and a
  // read or write blocked on this connection returns with EConnectionClosed. Idempotent.
  void Disconnect();
  // Waits up to TimeoutMs for the connection to end: the peer hanging up (its side shut
  // down, or reset) or Disconnect from any thread. Data arriving does not end the wait.
  // True when the connection ended.
  bool WaitForEnd(int TimeoutMs);
  // False once Disconnect ran or a read or write failed.
  bool Connected() const { return !FClosed.load(); }

  const std::string& PeerIP() const { return FPeerIP; }
  int PeerPort() const { return FPeerPort; }
  const std::string& LocalIP() const { return FLocalIP; }
  int LocalPort() const { return FLocalPort; }
  int Handle() const { return FFd; }

private:
  void FillBuffer(long long DeadlineMs);

  int FFd;
  std::atomic<bool> FClosed{false};
  bool FOverLong = false;
  bool FLastCRLF = false;
  std::string FBuf;    // received bytes not yet handed out start at FPos
  size_t FPos = 0;
  size_t FScan = 0;    // FBuf[FPos, FScan) is known to hold no LF
  std::string FPeerIP, FLocalIP;
  int FPeerPort = 0, FLocalPort = 0;
};

// "a.b.c.d" or an IPv6 text of a socket address, and its port.
std::string SockAddrToIP(const void* SockAddr, int* Port = nullptr);
