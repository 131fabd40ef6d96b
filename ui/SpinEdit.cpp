#include "ui/SpinEdit.h"

#include <QLineEdit>
#include <algorithm>

namespace zemlix {

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setKeyboardTracking(true);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  lineEdit()->setText("0");
  connect(lineEdit(), &QLineEdit::textChanged, this, [this] {
    if (OnChange) OnChange();
  });
}

void TSpinEdit::SetMinValue(int value) { MinValue_ = value; }
void TSpinEdit::SetMaxValue(int value) { MaxValue_ = value; }

int TSpinEdit::Clamp(int value) const {
  // A range whose maximum is below its minimum does not clamp at all, like the classic control.
  if (MaxValue_ < MinValue_) return value;
  return std::clamp(value, MinValue_, MaxValue_);
}

int TSpinEdit::Value() const {
  bool ok = false;
  const int value = lineEdit()->text().trimmed().toInt(&ok);
  return ok ? value : MinValue_;
}

void TSpinEdit::SetValue(int value) {
  const QString text = QString::number(Clamp(value));
  if (lineEdit()->text() != text) lineEdit()->setText(text);
}

void TSpinEdit::SetEditorEnabled(bool enabled) {
  EditorEnabled_ = enabled;
  lineEdit()->setReadOnly(!enabled);
}

void TSpinEdit::stepBy(int steps) {
  const long long stepped = static_cast<long long>(Value()) + static_cast<long long>(steps) * Increment_;
  SetValue(static_cast<int>(std::clamp<long long>(stepped, INT32_MIN, INT32_MAX)));
  lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
  if (isReadOnly() || !isEnabled()) return StepNone;
  return StepUpEnabled | StepDownEnabled;
}

QValidator::State TSpinEdit::validate(QString& input, int& /*pos*/) const {
  // Sign and digits only; whether they make a number in range is settled when the box
  // loses the focus.
  for (qsizetype i = 0; i < input.size(); ++i) {
    const QChar c = input[i];
    if (!(c.isDigit() || ((c == '-' || c == '+') && i == 0))) return QValidator::Invalid;
  }
  return QValidator::Acceptable;
}

void TSpinEdit::fixup(QString& /*input*/) const {}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  SetValue(Value());
  QAbstractSpinBox::focusOutEvent(event);
}

}  // namespace zemlix
