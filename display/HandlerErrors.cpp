#include "display/HandlerErrors.h"

#include <utility>

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
std::string reportedDetails;

}  // namespace

void SetErrorReporter(ErrorReporter reporter) { CurrentReporter() = std::move(reporter); }

void ReportHandlerError(const std::exception& error, std::string details) {
  ReportHandlerError(std::string(error.what()), std::move(details));
}

void ReportHandlerError(const std::string& message, std::string details) {
  if (reporting) {
    qWarning("%s", message.c_str());
    return;
  }
  reporting = true;
  reportedDetails = std::move(details);
  struct ResetFlag {
    ~ResetFlag() {
      reporting = false;
      reportedDetails.clear();
    }
  } resetFlag;
  // A copy, so a reporter that replaces itself while running stays alive.
  const ErrorReporter reporter = CurrentReporter();
  try {
    if (reporter) {
      reporter(message);
    } else {
      ShowErrorBox(message);
    }
  } catch (const std::exception& nested) {
    qWarning("error while reporting \"%s\": %s", message.c_str(), nested.what());
  }
}

const std::string& ReportedErrorDetails() { return reportedDetails; }

void ShowErrorBox(const std::string& message) {
  if (qApp == nullptr) {
    qWarning("%s", message.c_str());
    return;
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), QString::fromStdString(message),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.setInformativeText(QString::fromStdString(reportedDetails));
  box.exec();
}

bool IsReportingError() { return reporting; }

}  // namespace zemlix
