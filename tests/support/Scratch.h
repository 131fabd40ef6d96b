#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zemlix::testing {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A fresh directory per test, removed with everything in it afterwards.
class TScratchDirectory {
 public:
  TScratchDirectory() {
    static int counter = 0;
    Path = std::filesystem::temp_directory_path() /
           ("zemlix-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(Path);
  }
  ~TScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::string operator/(const std::string& name) const { return (Path / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path)) names.push_back(entry.path().filename());
    return names;
  }

  std::filesystem::path Path;
};

}  // namespace zemlix::testing
