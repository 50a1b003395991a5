#pragma once
// A small HTTP/1.1 server on loopback for the version check and the update download: each
// path answers as the test set it, and an answer can stop part-way until the test lets it
// go on (a transfer in progress, a server that never answers).
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "support/LoopbackServer.h"

struct THttpAnswer {
  int Status = 200;
  std::string Reason = "OK";
  std::string Body;
  // The Content-Length sent; -1: the body's own size. A larger one with a body that ends
  // early is a connection cut in the middle of the transfer.
  int64_t Announced = -1;
  // Wait for Release before the headers (a server that does not answer) ...
  bool HoldBeforeHeaders = false;
  // ... or after this many body bytes (-1: never).
  int64_t HoldAfter = -1;
};

class TLoopbackHttpServer : public TLoopbackServer {
public:
  TLoopbackHttpServer();
  ~TLoopbackHttpServer() override;

  void Answer(const std::string& Path, const THttpAnswer& A);
  // http://IP:Port + Path
  std::string URL(const std::string& Path) const;
  // GET requests seen for Path so far.
  int Requests(const std::string& Path);
  // Lets every held answer go on.
  void Release();

protected:
  void Serve(int Fd) override;

private:
  bool WaitReleased();
  std::mutex FLock;
  std::condition_variable FChanged;
  std::map<std::string, THttpAnswer> FAnswers;
  std::map<std::string, int> FRequests;
  bool FReleased = false;
  bool FClosing = false;
};
