#pragma once

#include <exception>
#include <functional>
#include <string>

namespace zemlix {

// Errors that escape an event handler (a frame, a view's automatic initialisation)
// must never unwind into Qt's event loop. They are handed to one application-wide
// reporter instead, which by default shows ShowErrorBox.
using ErrorReporter = std::function<void(const std::string& message)>;

// Replaces the reporter; an empty function restores the default message box.
void SetErrorReporter(ErrorReporter reporter);

// Shows the error through the reporter. While a report is on screen a second one is
// not stacked on top of it: it goes to the log output instead.
// `details` (the full path of the file an error is about, say) go with this report alone.
void ReportHandlerError(const std::exception& error, std::string details = {});
void ReportHandlerError(const std::string& message, std::string details = {});

// The details of the report running now, empty otherwise.
const std::string& ReportedErrorDetails();

// The default reporter: the standard critical box over the active window, with
// ReportedErrorDetails() as its informative text.
void ShowErrorBox(const std::string& message);

// True while the reporter runs. A modal box spins its own event loop, and idle work
// (the frame timer) must not fire frames underneath it.
bool IsReportingError();

}  // namespace zemlix
