#pragma once

#include <stdexcept>
#include <string>

namespace zemlix {

// A size mismatch between lists that must agree. Nothing can be repaired: the program's
// entry shows the message (it starts with "ERROR <") and ends the program.
class EFatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed open, write or close of a file. Code is the runtime's I/O error code and the
// message its text ("File not found", "Disk full", ...); see InOutErrorMessage.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(int code);
  int ErrorCode;
};

// The runtime's text for an I/O error code: 2 "File not found", 5 "File access denied",
// 101 "Disk full", ...; any other code reads "I/O error <code>".
std::string InOutErrorMessage(int code);

// Maps an operating-system errno value onto the runtime's I/O error codes.
int InOutErrorCode(int osError);

}  // namespace zemlix
