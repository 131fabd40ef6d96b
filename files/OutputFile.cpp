#include "files/OutputFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace zemlix {
namespace {

std::runtime_error CannotWrite(const std::string& path, const std::string& reason) {
  return std::runtime_error("cannot write " + path + (reason.empty() ? "" : ": " + reason));
}

}  // namespace

TOutputFile::TOutputFile(const std::string& path, std::ostream& standardOutput)
    : Path_(path), Stream_(&standardOutput) {
  if (path == "-") return;
  // The process id keeps two runs aimed at the same file from sharing a temporary.
  const std::filesystem::path target(path);
  Temporary_ = target;
  std::string name = target.filename().string();
  name.insert(0, 1, '.');
  name += '.';
  name += std::to_string(::getpid());
  name += ".tmp";
  Temporary_.replace_filename(name);
  File_.open(Temporary_, std::ios::binary | std::ios::trunc);
  if (!File_) throw CannotWrite(path, std::strerror(errno));
  Stream_ = &File_;
}

TOutputFile::~TOutputFile() {
  if (Temporary_.empty() || Committed_) return;
  File_.close();
  std::error_code ignored;
  std::filesystem::remove(Temporary_, ignored);
}

void TOutputFile::Commit() {
  Stream_->flush();
  if (!*Stream_) throw CannotWrite(Path_, "");
  if (Temporary_.empty()) return;
  File_.close();
  if (!File_) throw CannotWrite(Path_, "");
  std::error_code error;
  std::filesystem::rename(Temporary_, Path_, error);
  if (error) throw CannotWrite(Path_, error.message());
  Committed_ = true;
}

}  // namespace zemlix
