#include "support/RawStandIn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace brisklet::testing {

RawStandIn::RawStandIn(std::string baseAddressVariable, int status, std::string body)
    : variable_(std::move(baseAddressVariable)), status_(status), body_(std::move(body)) {
  listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listening_ < 0 || ::bind(listening_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listening_, 4) != 0 ||
      ::getsockname(listening_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the raw stand-in could not listen");
  setenv(variable_.c_str(),
         ("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port))).c_str(), 1);
  // The thread is handed its own stop token: asking server_ for it from the new thread could
  // run before server_ is assigned and get the token of the empty thread it replaces.
  server_ = std::jthread([this](const std::stop_token& stop) { serve(stop); });
}

RawStandIn::~RawStandIn() {
  unsetenv(variable_.c_str());
  server_.request_stop();
  server_.join();
  ::close(listening_);
}

std::vector<RawStandIn::Request> RawStandIn::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void RawStandIn::serve(const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    pollfd waiting{listening_, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;
    const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::string received;
    char buffer[65536];
    size_t headEnd = std::string::npos, wanted = 0;
    while (headEnd == std::string::npos || received.size() < headEnd + 4 + wanted) {
      const ssize_t count = ::read(connection, buffer, sizeof buffer);
      if (count <= 0) break;
      received.append(buffer, static_cast<size_t>(count));
      if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
        const size_t field = received.find("Content-Length: ");
        if (field != std::string::npos && field < headEnd)
          wanted = std::strtoul(received.c_str() + field + 16, nullptr, 10);
      }
    }
    if (headEnd != std::string::npos) {
      const std::lock_guard lock(mutex_);
      requests_.push_back({received.substr(0, headEnd), received.substr(headEnd + 4, wanted)});
    }
    const std::string answer = "HTTP/1.1 " + std::to_string(status_) +
                               " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                               std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                               body_;
    const ssize_t sent = ::write(connection, answer.data(), answer.size());
    static_cast<void>(sent);
    ::close(connection);
  }
}

}  // namespace brisklet::testing
