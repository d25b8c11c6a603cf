// What the window remembers between runs, in the user's settings
// ($XDG_CONFIG_HOME/ChipLoad/ChipLoad.conf, normally ~/.config): each
// window's size and place, and the folder the file dialogs last showed.
#pragma once

#include <QByteArray>
#include <QString>

namespace rte_qt {

QByteArray savedWindowGeometry(const QString& window);
void saveWindowGeometry(const QString& window, const QByteArray& geometry);

// "" when no file has been chosen yet.
QString lastFileFolder();
void rememberFileFolder(const QString& folder);

}  // namespace rte_qt
