#pragma once

#include <chrono>
#include <exception>
#include <stop_token>

namespace brisklet {

// Thrown by an engine that stopped because its caller asked it to. Commands end silently on it.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "Cancelled"; }
};

// Engines call this at their checkpoints (before each frame, each segment, each request).
inline void throwIfCancelled(const std::stop_token& stop) {
  if (stop.stop_requested()) throw Cancelled();
}

// Waits `duration` on a monotonic clock; throws Cancelled as soon as `stop` is requested.
void waitUnlessStopped(std::chrono::duration<double> duration, const std::stop_token& stop);

}  // namespace brisklet
