#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace brisklet {

// SIGINT (Ctrl-C) and SIGTERM (a logout, `kill`) handled as a user expects of an editor that
// loses nothing: while an object of this class lives, the first such signal reaches `onSignal`
// on the main thread through its event loop, and the caller cancels its running commands, which
// remove what they had begun writing. A second signal ends the process at once; what it leaves
// is swept at the next start. One object at a time; destroying it restores the defaults.
class TerminationSignals {
 public:
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;
  ~TerminationSignals();

 private:
  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace brisklet
