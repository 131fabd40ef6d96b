#pragma once

#include <QDialog>
#include <QValidator>
#include <cstdint>
#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace zemlix {

// A seed as typed: empty (the clock's), or a whole number from 0 to 4294967295, spaces
// around it allowed. Anything else is Intermediate, never Invalid, so the user's text stays
// in the box to be corrected.
class TSeedValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override;
  // Why `text` is not a seed; empty when it is one.
  static QString Refusal(const QString& text);
};

// Asks for the seed of every Start from now on. OK is offered only for a seed; the reason
// a text is refused shows under the box, and the text stays as typed.
class TSeedDialog : public QDialog {
  Q_OBJECT

 public:
  TSeedDialog(std::optional<uint32_t> current, QWidget* parent = nullptr);

  // The accepted seed; empty for the clock's.
  std::optional<uint32_t> Seed() const;

  QLineEdit* Edit;
  QLabel* Reason;
  QDialogButtonBox* Buttons;

 private:
  void TextChanged();
};

}  // namespace zemlix
