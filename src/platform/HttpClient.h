#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace brisklet {

// The request could not be carried out: no connection, a time-out, a TLS failure, an answer too
// large. what() is a sentence; it never holds the request's headers.
class HttpTransportError : public std::runtime_error {
 public:
  explicit HttpTransportError(const std::string& sentence, bool requestSent = true)
      : std::runtime_error(sentence), requestSent_(requestSent) {}
  // False only when nothing of the request left this machine (no connection was made): only
  // then is repeating a request that changes something on the server certainly harmless.
  bool requestSent() const { return requestSent_; }

 private:
  bool requestSent_;
};

struct HttpRequest {
  std::string method = "POST";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::seconds timeout{600};
  // An answer larger than this fails the request instead of filling memory.
  std::size_t maximumResponseBytes = std::size_t{64} << 20;
  // Where certificates are checked against: the system's authorities when empty, else this
  // PEM file (a test's own authority).
  std::string certificateAuthorities;
  // The schemes the address may use.
  std::string allowedSchemes = "http,https";
};

struct HttpResponse {
  long status = 0;
  std::map<std::string, std::string> headers;  // names in lower case; the last of a repeated one
  std::string body;
};

// Sends one request over HTTP(S) with certificate verification on. Throws HttpTransportError, or
// Cancelled when `stop` is requested while it is under way.
HttpResponse sendHttpRequest(const HttpRequest& request, const std::stop_token& stop);

}  // namespace brisklet
