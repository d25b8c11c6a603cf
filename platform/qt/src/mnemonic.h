#pragma once

#include <QString>

namespace rte_qt {

// Button labels mark their shortcut letter with a double underscore
// ("退出(__Y)"); Qt marks it with '&', so a literal '&' must be doubled.
QString mnemonicLabel(const QString& engineLabel);

}  // namespace rte_qt
