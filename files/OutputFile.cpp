#include "files/OutputFile.h"

#include "files/Checksum.h"
#include "files/LineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace zemlix {
namespace {

namespace fs = std::filesystem;

// The number of the process's own descriptor that `path` names (an entry of /proc/self/fd,
// which /dev/fd and /dev/stdout lead to), or -1. Such an entry is a link to whatever the
// descriptor has open: following it would rename over a file the shell opened for the
// process, or fail on a pipe, so the descriptor itself is written instead.
int OwnDescriptor(const std::string& path) {
  const fs::path name(path);
  int descriptor = -1;
  if (!ParseInteger(name.filename().string(), descriptor) || descriptor < 0) return -1;
  struct stat folder {}, ownFolder {};
  if (::stat(name.parent_path().c_str(), &folder) != 0 || ::stat("/proc/self/fd", &ownFolder) != 0) return -1;
  return folder.st_dev == ownFolder.st_dev && folder.st_ino == ownFolder.st_ino ? descriptor : -1;
}

// Where a path ends once symbolic links are followed, relative ones from the link's own
// folder: one of the process's descriptors, or the name that a write must replace (which
// need not exist yet). Empty Name and Descriptor -1, with `error` set, when it cannot end.
struct TPathEnd {
  std::string Name;
  int Descriptor = -1;
};

TPathEnd FollowLinks(const std::string& path, int& error) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    if (const int descriptor = OwnDescriptor(current); descriptor >= 0) return {current, descriptor};
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return {current, -1};
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size() - 1);
    if (length < 0) {
      error = errno;
      return {};
    }
    const fs::path next(std::string(target.data(), static_cast<size_t>(length)));
    current = next.is_absolute() ? next.string() : (fs::path(current).parent_path() / next).string();
  }
  error = ELOOP;
  return {};
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

mode_t CurrentUmask() {
  // Reading the mask means setting it; nothing else creates files at this moment.
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// The temporaries a termination signal must remove, in storage a signal handler may read.
constexpr size_t MaxTemporaries = 16;
struct TTemporarySlot {
  std::atomic<bool> Used{false};
  char Path[PATH_MAX] = {};
};
std::array<TTemporarySlot, MaxTemporaries> TemporarySlots;
std::mutex TemporarySlotsMutex;

// Temporaries are named ".zemlix-<host and target>-<pid>-XXXXXX": short, so a legal long
// file name never becomes an illegal temporary one, yet telling which machine's process
// wrote it, for which target.
std::string TemporaryPrefix(const std::string& target) {
  std::array<char, 256> host{};
  ::gethostname(host.data(), host.size() - 1);
  TChecksum checksum;
  checksum.Add(host.data());
  checksum.Add("/");
  checksum.Add(fs::path(target).filename().string());
  return ".zemlix-" + FormatChecksum(checksum.Value).substr(8) + "-";
}

// A process killed outright (SIGKILL, a power cut) leaves its temporary behind. The next
// writer of the same target removes those whose process, on this machine, is gone; a
// live one's, or one it cannot tell about, stays.
void RemoveStaleTemporaries(const std::string& folder, const std::string& prefix) {
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t dash = name.find('-', prefix.size());
    pid_t owner = 0;
    if (dash == std::string::npos || !ParseInteger(std::string_view(name).substr(prefix.size(), dash - prefix.size()), owner) ||
        owner <= 0 || owner == ::getpid())
      continue;
    if (::kill(owner, 0) != 0 && errno == ESRCH) ::unlink(entry->path().c_str());
  }
}

std::atomic<uint64_t> SyncCount{0};

int ForceToDisk(int fd) {
  SyncCount.fetch_add(1, std::memory_order_relaxed);
  return ::fsync(fd);
}

void OnTerminationSignal(int signal) {
  for (TTemporarySlot& slot : TemporarySlots)
    if (slot.Used.load(std::memory_order_acquire)) ::unlink(slot.Path);
  ::_exit(128 + signal);
}

}  // namespace

bool TFileBuffer::WriteBuffered() {
  const char* data = pbase();
  size_t left = static_cast<size_t>(pptr() - pbase());
  if (Target_ != nullptr) {
    errno = 0;
    if (Error_ == 0 && (Target_->sputn(data, static_cast<std::streamsize>(left)) != static_cast<std::streamsize>(left) ||
                        Target_->pubsync() != 0))
      Error_ = errno != 0 ? errno : EIO;
    setp(Buffer_, Buffer_ + sizeof Buffer_);
    return Error_ == 0;
  }
  while (left > 0 && Error_ == 0) {
    const ssize_t written = ::write(Fd_, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      Error_ = written < 0 ? errno : EIO;
      break;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  setp(Buffer_, Buffer_ + sizeof Buffer_);
  return Error_ == 0;
}

TFileBuffer::int_type TFileBuffer::overflow(int_type c) {
  if ((Fd_ < 0 && Target_ == nullptr) || !WriteBuffered()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

int TFileBuffer::sync() { return (Fd_ >= 0 || Target_ != nullptr) && WriteBuffered() ? 0 : -1; }

TFileBuffer::pos_type TFileBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                           std::ios_base::openmode which) {
  if (Fd_ < 0 || !(which & std::ios_base::out) || !WriteBuffered()) return pos_type(off_type(-1));
  const int whence = direction == std::ios_base::beg ? SEEK_SET : direction == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  const off_t at = ::lseek(Fd_, offset, whence);
  return pos_type(off_type(at < 0 ? -1 : at));
}

TFileBuffer::pos_type TFileBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

bool TFileBuffer::Close() {
  if (Target_ != nullptr) WriteBuffered();
  if (Fd_ < 0) return Error_ == 0;
  WriteBuffered();
  if (::close(Fd_) != 0 && Error_ == 0) Error_ = errno;
  Fd_ = -1;
  return Error_ == 0;
}

TOutputFile::TOutputFile(const std::string& path, std::ostream& standardOutput)
    : Path_(path) {
  if (path.empty()) throw std::runtime_error("cannot write a file with an empty name");
  int error = 0;
  const TPathEnd end = path == "-" ? TPathEnd{path, STDOUT_FILENO} : FollowLinks(path, error);
  if (end.Name.empty()) Fail(error);
  if (end.Descriptor == STDOUT_FILENO) {
    // Through the caller's stream, so nothing it writes there is reordered with the file.
    Buffer_.Attach(standardOutput.rdbuf());
    StandardOutput_ = true;
    return;
  }
  if (end.Descriptor >= 0) {
    // A copy of the descriptor shares its offset and its append flag, as the shell's
    // redirection intends; closing the copy leaves the process's own open.
    const int fd = ::fcntl(end.Descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) Fail(errno);
    Buffer_.Attach(fd);
    return;
  }
  Target_ = end.Name;

  struct stat status {};
  const bool exists = ::stat(Target_.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) Fail(EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    const int fd = ::open(Target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) Fail(errno);
    Buffer_.Attach(fd);
    return;
  }

  const std::string folder = FolderOf(Target_);
  const std::string prefix = TemporaryPrefix(Target_);
  RemoveStaleTemporaries(folder, prefix);
  std::string pattern = folder + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) Fail(errno);
  Temporary_ = pattern;
  TTemporaryFiles::Add(Temporary_);
  if (exists) {
    // The replacement keeps the file's permissions and, where allowed, its owner.
    ::fchmod(fd, status.st_mode & 07777);
    [[maybe_unused]] const int owned = ::fchown(fd, status.st_uid, status.st_gid);
  } else {
    ::fchmod(fd, 0666 & ~CurrentUmask());
  }
  Buffer_.Attach(fd);
}

TOutputFile::~TOutputFile() {
  if (Temporary_.empty()) return;
  Buffer_.Close();
  ::unlink(Temporary_.c_str());
  TTemporaryFiles::Remove(Temporary_);
}

void TOutputFile::Fail(int error) const {
  throw std::runtime_error("cannot write " + (Path_ == "-" ? std::string("standard output") : Path_) + ": " +
                           (error != 0 ? std::strerror(error) : "the data could not be written"));
}

void TOutputFile::Flush() {
  File_.flush();
  if (Buffer_.Error() != 0 || !File_) Fail(Buffer_.Error());
}

void TOutputFile::Checkpoint() {
  Flush();
  if (Temporary_.empty()) return;
  if (ForceToDisk(Buffer_.Fd()) != 0) Fail(errno);
  if (::rename(Temporary_.c_str(), Target_.c_str()) != 0) Fail(errno);
  TTemporaryFiles::Remove(Temporary_);
  Temporary_.clear();
}

void TOutputFile::Persist() {
  Checkpoint();
  if (StandardOutput_) return;
  // What was appended after the first checkpoint reaches the disk too; a device or a pipe
  // need not support that.
  struct stat status {};
  if (::fstat(Buffer_.Fd(), &status) == 0 && S_ISREG(status.st_mode) && ForceToDisk(Buffer_.Fd()) != 0) Fail(errno);
}

void TOutputFile::Commit() {
  if (Committed_) return;
  Persist();
  if (!StandardOutput_ && !Buffer_.Close()) Fail(Buffer_.Error());
  Committed_ = true;
}

uint64_t TOutputFile::DiskSyncs() { return SyncCount.load(std::memory_order_relaxed); }

bool SameOutputFile(const std::string& first, const std::string& second) {
  if (first.empty() || second.empty()) return false;
  int error = 0;
  const TPathEnd a = first == "-" ? TPathEnd{first, STDOUT_FILENO} : FollowLinks(first, error);
  const TPathEnd b = second == "-" ? TPathEnd{second, STDOUT_FILENO} : FollowLinks(second, error);
  if (a.Name.empty() || b.Name.empty()) return false;
  if (a.Descriptor >= 0 && a.Descriptor == b.Descriptor) return true;
  // What each writes into: a descriptor's open file, or the named file if it exists.
  const auto status = [](const TPathEnd& end, struct stat& into) {
    return end.Descriptor >= 0 ? ::fstat(end.Descriptor, &into) == 0 : ::stat(end.Name.c_str(), &into) == 0;
  };
  struct stat statusA {}, statusB {};
  const bool existsA = status(a, statusA);
  const bool existsB = status(b, statusB);
  // Two descriptors on one terminal or pipe interleave as the shell's 2>&1 does; only a
  // file can be overwritten.
  if ((existsA && !S_ISREG(statusA.st_mode)) || (existsB && !S_ISREG(statusB.st_mode))) return false;
  if (existsA && existsB) return statusA.st_dev == statusB.st_dev && statusA.st_ino == statusB.st_ino;
  if (a.Descriptor >= 0 || b.Descriptor >= 0) return false;
  std::error_code ignored;
  const auto normal = [&ignored](const std::string& path) {
    return fs::weakly_canonical(fs::absolute(path, ignored), ignored).lexically_normal();
  };
  return normal(a.Name) == normal(b.Name);
}

void TTemporaryFiles::RemoveOnTerminationSignals() {
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

void TTemporaryFiles::Add(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  std::lock_guard lock(TemporarySlotsMutex);
  for (TTemporarySlot& slot : TemporarySlots) {
    if (slot.Used.load(std::memory_order_relaxed)) continue;
    std::memcpy(slot.Path, path.c_str(), path.size() + 1);
    slot.Used.store(true, std::memory_order_release);
    return;
  }
}

void TTemporaryFiles::Remove(const std::string& path) {
  std::lock_guard lock(TemporarySlotsMutex);
  for (TTemporarySlot& slot : TemporarySlots)
    if (slot.Used.load(std::memory_order_relaxed) && path == slot.Path) {
      slot.Used.store(false, std::memory_order_release);
      return;
    }
}

}  // namespace zemlix
