#pragma once

#include <fstream>
#include <ostream>
#include <string>

namespace zemlix {

// A file a program writes, or standard output for "-".
//
// A regular file (or a name not yet taken) is written under a short temporary name beside
// its target and renamed over it only by Checkpoint or Commit, so an interrupted or failed
// run never leaves half a file under the user's name, and a run may overwrite the very file
// it loaded. A symbolic link is followed: its final target is replaced and the link stays.
// An existing file keeps its permission bits. Anything else (a device, a FIFO, a socket)
// is written straight through, as every Unix tool does. Destroyed without Commit, the
// temporary is removed; while it exists it is also removed when the process is ended by
// SIGINT, SIGTERM or SIGHUP (see TTemporaryFiles).
//
// The constructor opens (or creates) everything it needs, so a path that cannot be written
// fails before any work is done. Errors are std::runtime_error: "cannot write PATH: reason".
class TOutputFile {
 public:
  TOutputFile(const std::string& path, std::ostream& standardOutput);
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile();

  std::ostream& Stream() { return *Stream_; }
  const std::string& Path() const { return Path_; }

  // Publishes everything written so far under the final name and keeps the file open for
  // more: the first time by the rename, later by appending to the renamed file. The final
  // name therefore always holds whole checkpoints, plus at most a partial tail when the
  // process dies while writing one.
  void Checkpoint();
  // Checkpoints and closes, with the data on the disk.
  void Commit();

 private:
  [[noreturn]] void Fail(int error) const;
  void Flush();

  std::string Path_;
  std::string Target_;     // Path_ with symbolic links followed
  std::string Temporary_;  // empty once renamed, or when writing straight through
  std::ofstream File_;
  std::ostream* Stream_;
  bool Committed_ = false;
};

// The same file, or two paths that would name the same file once written: symbolic links
// and "." or ".." resolved. Standard output ("-") and non-regular files never clash.
bool SameOutputFile(const std::string& first, const std::string& second);

// The process-wide list of temporary files to remove when a termination signal arrives.
// The handler may run between any two instructions, so the list is a fixed array of
// fixed buffers, and the handler only calls unlink and _exit.
class TTemporaryFiles {
 public:
  // Installs the handlers for SIGINT, SIGTERM and SIGHUP: remove the temporaries, then end
  // the process with the conventional status 128 + signal.
  static void RemoveOnTerminationSignals();
  static void Add(const std::string& path);
  static void Remove(const std::string& path);
};

}  // namespace zemlix
