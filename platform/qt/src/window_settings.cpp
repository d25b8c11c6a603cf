#include "window_settings.h"

#include <QSettings>

namespace rte_qt {

namespace {

QSettings Settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ChipLoad"),
                     QStringLiteral("ChipLoad"));
}

}  // namespace

QByteArray savedWindowGeometry(const QString& window) {
    return Settings().value(QStringLiteral("windows/") + window).toByteArray();
}

void saveWindowGeometry(const QString& window, const QByteArray& geometry) {
    Settings().setValue(QStringLiteral("windows/") + window, geometry);
}

QString lastFileFolder() {
    return Settings().value(QStringLiteral("dialogs/folder")).toString();
}

void rememberFileFolder(const QString& folder) {
    Settings().setValue(QStringLiteral("dialogs/folder"), folder);
}

}  // namespace rte_qt
