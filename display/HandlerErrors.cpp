#include "display/HandlerErrors.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QtGlobal>

namespace zemlix {

namespace {

ErrorReporter& CurrentReporter() {
  static ErrorReporter reporter;
  return reporter;
}

bool reporting = false;

void ShowMessageBox(const std::string& message) {
  if (qApp == nullptr) {
    qWarning("%s", message.c_str());
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                        QString::fromStdString(message));
}

}  // namespace

void SetErrorReporter(ErrorReporter reporter) { CurrentReporter() = std::move(reporter); }

void ReportHandlerError(const std::exception& error) { ReportHandlerError(std::string(error.what())); }

void ReportHandlerError(const std::string& message) {
  if (reporting) {
    qWarning("%s", message.c_str());
    return;
  }
  reporting = true;
  struct ResetFlag {
    ~ResetFlag() { reporting = false; }
  } resetFlag;
  // A copy, so a reporter that replaces itself while running stays alive.
  const ErrorReporter reporter = CurrentReporter();
  try {
    if (reporter) {
      reporter(message);
    } else {
      ShowMessageBox(message);
    }
  } catch (const std::exception& nested) {
    qWarning("error while reporting \"%s\": %s", message.c_str(), nested.what());
  }
}

bool IsReportingError() { return reporting; }

}  // namespace zemlix
