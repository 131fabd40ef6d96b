#include "ui/SeedDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zemlix {

QString TSeedValidator::Refusal(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return {};
  bool digits = true;
  for (const QChar c : trimmed) digits = digits && c >= '0' && c <= '9';
  bool ok = false;
  const qulonglong value = trimmed.toULongLong(&ok);
  if (digits && ok && value <= UINT32_MAX) return {};
  return QStringLiteral("'%1' is not a seed: a whole number from 0 to 4294967295 is.").arg(trimmed);
}

QValidator::State TSeedValidator::validate(QString& input, int&) const {
  return Refusal(input).isEmpty() ? Acceptable : Intermediate;
}

TSeedDialog::TSeedDialog(std::optional<uint32_t> current, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Seed");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel("Seed of every Start from now on (0 to 4294967295);\nleave empty to take it from the clock:", this));
  Edit = new QLineEdit(current ? QString::number(*current) : QString(), this);
  Edit->setValidator(new TSeedValidator(Edit));
  layout->addWidget(Edit);
  Reason = new QLabel(this);
  Reason->setWordWrap(true);
  layout->addWidget(Reason);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(Edit, &QLineEdit::textChanged, this, [this] { TextChanged(); });
  TextChanged();
}

void TSeedDialog::TextChanged() {
  const QString refusal = TSeedValidator::Refusal(Edit->text());
  Reason->setText(refusal);
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(refusal.isEmpty());
}

std::optional<uint32_t> TSeedDialog::Seed() const {
  const QString trimmed = Edit->text().trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  return static_cast<uint32_t>(trimmed.toULongLong());
}

}  // namespace zemlix
