#pragma once
// Errors of the socket layer. Every failure of a read, write, connect or bind raises one of
// these; a connection that raised is to be closed by its owner.
#include <cerrno>
#include <stdexcept>
#include <string>

class ESocketError : public std::runtime_error {
public:
  explicit ESocketError(const std::string& Msg, int Code = 0) : std::runtime_error(Msg), FCode(Code) {}
  // errno of the failing call, 0 when none.
  int ErrorCode() const { return FCode; }

private:
  int FCode;
};

// The peer closed the connection, or it was shut down from this side.
class EConnectionClosed : public ESocketError {
public:
  EConnectionClosed() : ESocketError("Connection Closed Gracefully.") {}
};

// No complete line arrived within the read time-out.
class EReadTimeout : public ESocketError {
public:
  EReadTimeout() : ESocketError("Read Timeout") {}
};

// A line grew past TTcpConnection::MaxLineLength before its line end.
class ELineTooLong : public ESocketError {
public:
  ELineTooLong() : ESocketError("Max line length exceeded.") {}
};

// A listening socket could not be bound: the address and port are taken or not ours, or
// (EACCES, EPERM) a port below 1024 without the right to bind it.
class ESocketBindError : public ESocketError {
public:
  explicit ESocketBindError(int Code)
      : ESocketError(Code == EACCES || Code == EPERM ? "Could not bind socket. Permission denied."
                                                     : "Could not bind socket. Address and port are already in use.",
                     Code) {}
};
