#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <filesystem>
#include <functional>
#include <vector>

namespace brisklet {

// One Brisklet per user session. The first start owns the application's name on the session bus
// (com.kettlewick.Brisklet) and serves the desktop's org.freedesktop.Application interface
// there; a later start hands its videos to that one and ends. Without a session bus, or when the
// running one does not answer, a start runs on its own.
class SessionInstance : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  // Claims the name, or hands `files` (as given: made absolute here) to the Brisklet holding it.
  explicit SessionInstance(const std::vector<std::filesystem::path>& files,
                           QObject* parent = nullptr);

  // Whether another Brisklet took the files: this start has nothing more to do.
  bool handedOver() const { return handedOver_; }

  // What to do when another start hands over its videos (none: it only asks for the window).
  using Opener = std::function<void(const std::vector<std::filesystem::path>&)>;
  void setOpener(Opener open) { open_ = std::move(open); }

 public slots:
  // The interface, as the bus calls it.
  Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
  Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
  Q_SCRIPTABLE void ActivateAction(const QString& action, const QVariantList& parameter,
                                   const QVariantMap& platformData);

 private:
  bool handOver(const std::vector<std::filesystem::path>& files);

  bool handedOver_ = false;
  Opener open_;
};

}  // namespace brisklet
