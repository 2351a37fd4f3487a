#include "platform/StopAfter.h"

namespace brisklet {

StopAfter::StopAfter(std::chrono::milliseconds wait)
    : timer_([this, wait](std::stop_token withdrawn) {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, withdrawn, wait, [] { return false; });
        if (!withdrawn.stop_requested()) source_.request_stop();
      }) {}

}  // namespace brisklet
