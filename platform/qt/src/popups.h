#pragma once

#include <QWidget>

#include "rte_frontend.h"

namespace rte_qt {

// Modal pop-ups, shown on the window's thread over parent (may be null).
// Each returns when the operator has answered.
void showMessagePopup(const rte::MessageRequest& request, QWidget* parent);
rte::GenericAnswer showGenericPopup(const rte::GenericRequest& request, QWidget* parent);
rte::FileAnswer showFilePopup(const rte::FileRequest& request, QWidget* parent);

}  // namespace rte_qt
