#pragma once

#include <QAbstractSpinBox>
#include <functional>

namespace zemlix {

// A numeric edit with up and down buttons that behaves like a classic spin edit rather
// than a QSpinBox: the arrows and keys step and clamp; a value set by the program is
// clamped; a typed value is taken as it stands until the box loses the focus, when it is
// clamped; a text that is not a number reads as the minimum; every change of the shown
// text fires OnChange (also a change the handler itself makes, re-entrantly).
class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  int MinValue() const { return MinValue_; }
  int MaxValue() const { return MaxValue_; }
  int Increment() const { return Increment_; }
  void SetMinValue(int value);
  void SetMaxValue(int value);
  void SetIncrement(int value) { Increment_ = value; }

  // The value as the text stands; a text that is not a number reads as the minimum.
  int Value() const;
  // Shows `value` clamped to the range.
  void SetValue(int value);

  // Whether the user may type (the arrows work either way).
  void SetEditorEnabled(bool enabled);
  bool EditorEnabled() const { return EditorEnabled_; }

  std::function<void()> OnChange;

  void stepBy(int steps) override;

 protected:
  StepEnabled stepEnabled() const override;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int Clamp(int value) const;

  int MinValue_ = 0;
  int MaxValue_ = 100;
  int Increment_ = 1;
  bool EditorEnabled_ = true;
};

}  // namespace zemlix
