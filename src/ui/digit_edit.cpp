#include "ui/digit_edit.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace veltrana::ui {

void makeDigitEdit(QLineEdit& edit, int maxDigits) {
    edit.setMaxLength(maxDigits);
    edit.setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), &edit));
}

int digitValue(const QString& text) {
    // the leading digits, as atoi reads them; the edits hold at most seven
    constexpr int kLimit = 100'000'000;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9') || value >= kLimit) {
            break;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace veltrana::ui
