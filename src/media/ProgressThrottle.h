#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace brisklet {

// Hands on the fraction done at most every 0.3 s, and always the end (1.0).
class ProgressThrottle {
 public:
  explicit ProgressThrottle(const std::function<void(double)>& report) : report_(report) {}

  void operator()(double fraction) {
    const auto now = std::chrono::steady_clock::now();
    if (fraction < 1.0 && now - last_ < kInterval) return;
    last_ = now;
    report_(std::clamp(fraction, 0.0, 1.0));
  }

 private:
  static constexpr auto kInterval = std::chrono::milliseconds(300);
  const std::function<void(double)>& report_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace brisklet
