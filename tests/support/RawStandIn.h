#pragma once

#include <mutex>
#include <string>
#include <stop_token>
#include <thread>
#include <vector>

namespace brisklet::testing {

// A stand-in for an HTTP service that keeps each request exactly as it came over the wire, for
// checking an upload byte for byte (FakeService's HTTP library takes multipart bodies apart). It
// answers every request with `status` and `body` (JSON) and closes the connection. While it
// lives, the environment variable `baseAddressVariable` points the clients at it.
class RawStandIn {
 public:
  RawStandIn(std::string baseAddressVariable, int status, std::string body);
  RawStandIn(const RawStandIn&) = delete;
  RawStandIn& operator=(const RawStandIn&) = delete;
  ~RawStandIn();

  struct Request {
    std::string head;  // the request line and headers, up to the blank line
    std::string body;  // Content-Length bytes after it
  };
  std::vector<Request> requests() const;

 private:
  void serve(const std::stop_token& stop);

  std::string variable_;
  int status_;
  std::string body_;
  int listening_ = -1;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::jthread server_;
};

}  // namespace brisklet::testing
