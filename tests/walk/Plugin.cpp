// Qt loads this when the host makes its application (QT_QPA_GENERIC_PLUGINS=tarvowalk),
// so the walker lives in the host's own process and event loop, with no hook in the host.
#include <QGenericPlugin>

#include "Session.h"

class TarvoWalkPlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "tarvowalk.json")

 public:
  QObject* create(const QString& key, const QString&) override {
    if (key.compare(QLatin1String("tarvowalk"), Qt::CaseInsensitive) != 0) return nullptr;
    return walk::StartSession();
  }
};

#include "Plugin.moc"
