#pragma once
// Number edits that take digits only, up to a number of characters.

#include <QString>

class QLineEdit;

namespace veltrana::ui {

void makeDigitEdit(QLineEdit& edit, int maxDigits);

// The decimal value of a digits-only text; an empty text is 0.
int digitValue(const QString& text);

} // namespace veltrana::ui
