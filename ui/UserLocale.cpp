#include "ui/UserLocale.h"

#include <QLocale>
#include <clocale>

namespace zemlix {

void AdoptUserLocale() {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
}

QString UserDecimalSeparator() { return QLocale().decimalPoint(); }

QString ForPerson(const QString& pointText) {
  QString text = pointText;
  if (const qsizetype point = text.indexOf('.'); point >= 0) text.replace(point, 1, UserDecimalSeparator());
  return text;
}

QString ForPerson(const std::string& pointText) { return ForPerson(QString::fromStdString(pointText)); }

}  // namespace zemlix
