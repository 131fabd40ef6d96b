#include "base/Errors.h"

#include <cerrno>

namespace zemlix {

EInOutError::EInOutError(int code) : std::runtime_error(InOutErrorMessage(code)), ErrorCode(code) {}

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
}

int InOutErrorCode(int osError) {
  switch (osError) {
    case ENOENT:
    case ENOTDIR:
      return 2;
    case EINVAL:
    case ENAMETOOLONG:
    case ELOOP:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return 101;
    default:
      // Other errno values keep their number; those that would read as one of the codes
      // above (EIO is 5, for one) are moved out of the way rather than mislabelled.
      switch (osError) {
        case 2: case 3: case 4: case 5: case 100: case 101: case 106:
          return 1000 + osError;
        default:
          return osError;
      }
  }
}

}  // namespace zemlix
