#pragma once

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace zemlix::testing {

// A small tmpfs mounted over a test's directory, for failures that permissions cannot
// produce when the tests run as root (CI does): a read-only directory, a full disk.
// Mounting needs CAP_SYS_ADMIN; where the machine refuses, Mounted() is false and the
// caller falls back or skips. The mount is made in a private mount namespace of this
// thread where possible, so nothing leaks into the machine if the test dies, and it is
// detached on destruction either way.
class TScratchMount {
 public:
  TScratchMount(const std::filesystem::path& directory, const std::string& options) : Directory_(directory) {
    PrivateMountNamespace();
    Mounted_ = ::mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    if (!Mounted_) Error_ = errno;
  }
  ~TScratchMount() {
    if (Mounted_) ::umount2(Directory_.c_str(), MNT_DETACH);
  }
  TScratchMount(const TScratchMount&) = delete;
  TScratchMount& operator=(const TScratchMount&) = delete;

  bool Mounted() const { return Mounted_; }
  int Error() const { return Error_; }

  // Makes the mounted file system read-only; false when the machine refuses.
  bool MakeReadOnly() {
    return Mounted_ && ::mount(nullptr, Directory_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  static void PrivateMountNamespace() {
    static const bool done = [] {
      // Only the calling thread moves; the tests do their file work on that thread.
      return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    (void)done;
  }

  std::filesystem::path Directory_;
  bool Mounted_ = false;
  int Error_ = 0;
};

}  // namespace zemlix::testing
