#pragma once

#include <qcoro/qcorotask.h>

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "model/KeychainStore.h"

namespace brisklet {

// The two service keys as the window knows them. The desktop keyring may take any time to
// answer (a locked one waits on its unlock prompt, a broken one never answers), so every call
// to it runs on a worker and gives up after a bounded wait: the window's thread never waits on
// it. A typed key is stored once typing pauses, not on every keystroke.
class KeyRing : public QObject {
  Q_OBJECT

 public:
  struct Timings {
    // How long typing must pause before the key is stored.
    std::chrono::milliseconds typingPause{700};
    // How long the keyring may take to answer: enough to type an unlock password.
    std::chrono::milliseconds answerWait{std::chrono::seconds(30)};
  };

  explicit KeyRing(QObject* parent = nullptr);
  void setTimings(Timings timings) { timings_ = timings; }

  // Reads both keys and where they are kept, on a worker; `loaded` follows, also when the
  // keyring did not answer in time.
  void load();
  bool isLoading() const { return loading_; }
  // Why the last read told nothing ("The desktop keyring did not answer…"), or none.
  const std::optional<std::string>& loadProblem() const { return loadProblem_; }
  // Where keys are kept, as the settings tell the user; empty until a read answered.
  const std::string& storageDescription() const { return storageDescription_; }

  // The key as last read, or as last typed here; none while the first read is under way. When
  // no read was ever asked for, it asks the keyring itself, waiting a few seconds at most.
  std::optional<std::string> key(KeychainStore::Key key) const;

  // A key as typed and cleaned (see KeychainStore::cleanTypedKey); an empty one removes the
  // stored key. Stored once typing pauses; `saved` tells how it went.
  void type(KeychainStore::Key key, std::string value);
  // Stores at once what waits on a pause in typing (the settings window closes).
  void storeTypedNow();

 signals:
  void loaded();
  // `failure` is why the key was not saved, empty when it was.
  void saved(KeychainStore::Key key, const QString& failure);

 private:
  struct Slot {
    std::optional<std::string> value;
    // A typed value not handed to the keyring yet, and whether a store is under way.
    std::optional<std::string> unsaved;
    bool storing = false;
    QTimer* pause = nullptr;
  };
  Slot& slot(KeychainStore::Key key) { return slots_[static_cast<std::size_t>(key)]; }
  const Slot& slot(KeychainStore::Key key) const { return slots_[static_cast<std::size_t>(key)]; }
  QCoro::Task<> read();
  QCoro::Task<> store(KeychainStore::Key key);

  Timings timings_;
  std::array<Slot, 2> slots_;
  bool loading_ = false;
  bool readFinished_ = false;
  std::optional<std::string> loadProblem_;
  std::string storageDescription_;
};

}  // namespace brisklet
