#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace brisklet::testing {

// One request as the stand-in received it; header names in lower case. The body of a multipart
// upload is its parts' contents one after another.
struct RecordedRequest {
  std::string method;
  std::string path;
  std::map<std::string, std::string> headers;
  std::string body;
  std::map<std::string, std::string> query = {};
};

// One scripted answer.
struct ScriptedResponse {
  int status = 200;
  std::string body = {};
  std::map<std::string, std::string> headers = {};
  std::string contentType = "application/json";
  // Holds the answer back this long (to test cancellation of a transfer under way).
  int delayMilliseconds = 0;
};

// A local stand-in for an external HTTP service on 127.0.0.1: it records every request and plays
// the scripted answers in order (a 599 once they run out). While it lives, the environment
// variable `baseAddressVariable` points the clients at it.
class FakeService {
 public:
  explicit FakeService(std::string baseAddressVariable);
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;
  ~FakeService();

  void enqueue(ScriptedResponse response);
  std::vector<RecordedRequest> requests() const;
  std::string baseAddress() const;

 private:
  std::string variable_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<ScriptedResponse> script_;
  size_t nextAnswer_ = 0;
  std::vector<RecordedRequest> requests_;
  std::thread listener_;
};

}  // namespace brisklet::testing
