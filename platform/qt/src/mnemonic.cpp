#include "mnemonic.h"

namespace rte_qt {

QString mnemonicLabel(const QString& engineLabel) {
    QString label;
    label.reserve(engineLabel.size() + 1);
    bool marked = false;
    for (qsizetype i = 0; i < engineLabel.size(); ++i) {
        const QChar c = engineLabel[i];
        if (c == u'&') {
            label += QStringLiteral("&&");
        } else if (!marked && c == u'_' && i + 2 < engineLabel.size() &&
                   engineLabel[i + 1] == u'_') {
            // Only the first marker counts; a second one stays literal text.
            label += u'&';
            marked = true;
            ++i;
        } else {
            label += c;
        }
    }
    return label;
}

}  // namespace rte_qt
