#include "platform/Cancellation.h"

#include <condition_variable>
#include <mutex>

namespace brisklet {

void waitUnlessStopped(std::chrono::duration<double> duration, const std::stop_token& stop) {
  std::mutex mutex;
  std::condition_variable_any wakeUp;
  std::unique_lock lock(mutex);
  wakeUp.wait_for(lock, stop, duration, [] { return false; });
  throwIfCancelled(stop);
}

}  // namespace brisklet
