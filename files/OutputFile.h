#pragma once

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace zemlix {

// A file the runner writes, or standard output for "-". A file is written under a
// temporary name in the same directory and renamed over the final name only by Commit, so
// an interrupted or failed run never leaves a half-written file there, and a run may
// overwrite the very file it loaded. Destroyed without Commit, it removes the temporary.
class TOutputFile {
 public:
  // Throws std::runtime_error naming the path when the temporary cannot be created.
  TOutputFile(const std::string& path, std::ostream& standardOutput);
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile();

  std::ostream& Stream() { return *Stream_; }
  // Flushes, closes and renames. Throws std::runtime_error naming the path on failure.
  void Commit();

 private:
  std::string Path_;
  std::filesystem::path Temporary_;
  std::ofstream File_;
  std::ostream* Stream_;
  bool Committed_ = false;
};

}  // namespace zemlix
