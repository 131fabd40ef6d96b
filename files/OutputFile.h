#pragma once

#include <streambuf>
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
// is written straight through, as every Unix tool does, and so is a path that ends at one
// of the process's own descriptors (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N):
// the descriptor is written, appending where the shell opened it for appending, and never
// renamed over. Standard output, "-" or any spelling of descriptor 1, goes through the
// stream the caller gives. Destroyed without Commit, the temporary is removed; while it
// exists it is also removed when the process is ended by SIGINT, SIGTERM or SIGHUP (see
// TTemporaryFiles), and a later writer of the same target removes the temporaries that
// killed processes left.
//
// A stream buffer over a file descriptor that remembers why a write failed, so a message
// can give the system's reason ("No space left on device") however long ago it happened.
class TFileBuffer : public std::streambuf {
 public:
  TFileBuffer() { setp(Buffer_, Buffer_ + sizeof Buffer_); }
  TFileBuffer(const TFileBuffer&) = delete;
  TFileBuffer& operator=(const TFileBuffer&) = delete;
  ~TFileBuffer() override { Close(); }

  void Attach(int fd) { Fd_ = fd; }
  // Writes into another stream buffer (standard output's) instead of a file descriptor.
  void Attach(std::streambuf* target) { Target_ = target; }
  int Fd() const { return Fd_; }
  // The errno of the first failed write or close, 0 while all is well.
  int Error() const { return Error_; }
  // Writes what is buffered and closes; false (with Error set) when anything failed.
  bool Close();

 protected:
  int_type overflow(int_type c) override;
  int sync() override;
  // Moves the write position of a file (containers such as MP4 go back to fill in sizes);
  // a pipe, a device or standard output's stream answers -1 and keeps its state.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  bool WriteBuffered();

  int Fd_ = -1;
  std::streambuf* Target_ = nullptr;
  int Error_ = 0;
  char Buffer_[1 << 16];
};

class TOutputFile {
 public:
  TOutputFile(const std::string& path, std::ostream& standardOutput);
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile();

  std::ostream& Stream() { return File_; }
  const std::string& Path() const { return Path_; }

  // Publishes everything written so far under the final name and keeps the file open for
  // more: the first time by the rename, later by appending to the renamed file. The final
  // name therefore always holds whole checkpoints, plus at most a partial tail when the
  // process dies while writing one.
  void Checkpoint();
  // Checkpoints and forces everything written so far onto the disk, so that it outlives a
  // crash of the machine, not only of the process (a journal's promise).
  void Persist();
  // Checkpoints and closes, with the data on the disk.
  void Commit();

  // How often this process has forced a file's data onto the disk: the promise of Persist
  // and Commit, which nothing else a test can observe shows.
  static uint64_t DiskSyncs();

 private:
  [[noreturn]] void Fail(int error) const;
  void Flush();

  std::string Path_;
  std::string Target_;     // Path_ with symbolic links followed
  std::string Temporary_;  // empty once renamed, or when writing straight through
  TFileBuffer Buffer_;
  std::ostream File_{&Buffer_};
  bool StandardOutput_ = false;  // written through the caller's standard output stream
  bool Committed_ = false;
};

// Whether two outputs would write over each other: the same file, or two paths that would
// name the same file once written (symbolic links and "." or ".." resolved), or the same
// descriptor of the process ("-", /dev/stdout, /dev/fd/1 and /proc/self/fd/1 are all
// standard output). A device or a pipe is never overwritten, so it never clashes but with
// the very same descriptor.
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
