#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace brisklet {
namespace {

// Written by the handler, read on the main thread: the only async-signal-safe way across.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t received = 0;

void onTerminationSignal(int signal) {
  if (received != 0) _exit(128 + signal);  // asked twice: the user wants out now
  received = signal;
  const char wake = 1;
  const ssize_t written = ::write(signalPipe[1], &wake, 1);
  static_cast<void>(written);  // a full pipe already holds a wake-up
}

void handleWith(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // signals keep their defaults
  received = 0;
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char wake = 0;
    while (::read(signalPipe[0], &wake, 1) > 0) {
    }
    onSignal_(received);
  });
  handleWith(onTerminationSignal);
}

TerminationSignals::~TerminationSignals() {
  if (!notifier_) return;
  handleWith(SIG_DFL);
  notifier_.reset();
  ::close(signalPipe[0]);
  ::close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

}  // namespace brisklet
