#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace brisklet {

// A stop request that makes itself once a wait has passed: the bound on a blocking call that
// takes a stop token (the desktop keyring may never answer). Destroying it first withdraws it.
class StopAfter {
 public:
  explicit StopAfter(std::chrono::milliseconds wait);

  std::stop_token token() const { return source_.get_token(); }
  // Whether the wait ran out.
  bool ranOut() const { return source_.stop_requested(); }

 private:
  std::stop_source source_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread timer_;  // last: it ends (and is joined) before the members it uses go
};

}  // namespace brisklet
