#include "app/KeyRing.h"

#include <QPointer>
#include <algorithm>
#include <utility>

#include "app/LongCommand.h"
#include "platform/StopAfter.h"

namespace brisklet {
namespace {

using Key = KeychainStore::Key;
constexpr std::array kKeys{Key::anthropic, Key::elevenLabs};
constexpr std::chrono::milliseconds kWaitWithoutRead{3000};

// What one read of the keyring found.
struct Reading {
  std::string storageDescription;
  std::array<std::optional<std::string>, 2> keys;
  bool ranOut = false;
};

}  // namespace

KeyRing::KeyRing(QObject* parent) : QObject(parent) {
  for (const Key key : kKeys) {
    Slot& typed = slot(key);
    typed.pause = new QTimer(this);
    typed.pause->setSingleShot(true);
    connect(typed.pause, &QTimer::timeout, this, [this, key] { store(key); });
  }
}

void KeyRing::load() {
  if (loading_) return;
  loading_ = true;
  read();
}

QCoro::Task<> KeyRing::read() {
  QPointer<KeyRing> guard(this);
  auto reading = runOnWorker([wait = timings_.answerWait] {
    const StopAfter bound(wait);
    Reading found;
    found.storageDescription = KeychainStore::storageDescription(bound.token());
    for (const Key key : kKeys)
      found.keys[static_cast<std::size_t>(key)] = KeychainStore::get(key, bound.token());
    found.ranOut = bound.ranOut();
    return found;
  });
  const Reading found = co_await reading;
  if (!guard) co_return;
  loading_ = false;
  readFinished_ = true;
  if (found.ranOut) {
    loadProblem_ =
        "The desktop keyring did not answer, so the stored keys could not be read. Unlock it "
        "(Passwords and Keys), then open Settings again.";
  } else {
    loadProblem_.reset();
    storageDescription_ = found.storageDescription;
    for (const Key key : kKeys) {
      Slot& known = slot(key);
      // A key typed meanwhile is newer than what the keyring held.
      if (!known.unsaved && !known.storing) known.value = found.keys[static_cast<std::size_t>(key)];
    }
  }
  emit loaded();
}

std::optional<std::string> KeyRing::key(Key key) const {
  const Slot& known = slot(key);
  if (readFinished_ || loading_ || known.unsaved || known.storing) return known.value;
  // Nobody asked for a read (a test, a tool): the caller's thread waits, briefly.
  const StopAfter bound(std::min(timings_.answerWait, kWaitWithoutRead));
  return KeychainStore::get(key, bound.token());
}

void KeyRing::type(Key key, std::string value) {
  Slot& typed = slot(key);
  typed.value = value.empty() ? std::nullopt : std::optional(value);
  typed.unsaved = std::move(value);
  typed.pause->start(timings_.typingPause);
}

void KeyRing::storeTypedNow() {
  for (const Key key : kKeys) {
    if (!slot(key).pause->isActive()) continue;
    slot(key).pause->stop();
    store(key);
  }
}

QCoro::Task<> KeyRing::store(Key key) {
  Slot& typed = slot(key);
  if (typed.storing || !typed.unsaved) co_return;  // a store under way takes this one next
  const std::string value = *std::exchange(typed.unsaved, std::nullopt);
  typed.storing = true;
  QPointer<KeyRing> guard(this);
  auto storing = runOnWorker([key, value, wait = timings_.answerWait] {
    const StopAfter bound(wait);
    std::optional<std::string> failure = KeychainStore::set(value, key, bound.token());
    if (bound.ranOut())
      failure =
          "The desktop keyring did not answer in time. Unlock it (Passwords and Keys), "
          "then paste the key again.";
    return failure;
  });
  const std::optional<std::string> failure = co_await storing;
  if (!guard) co_return;
  typed.storing = false;
  // Typed again while this one was stored: the newer key is the one to store and report on.
  if (typed.unsaved && !typed.pause->isActive()) {
    store(key);
    co_return;
  }
  if (typed.unsaved) co_return;
  emit saved(key, failure ? QString::fromStdString(*failure) : QString());
}

}  // namespace brisklet
