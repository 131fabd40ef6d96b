#include "files/WorldFile.h"

#include <sstream>

#include "files/OutputFile.h"

namespace zemlix {

void WriteWorldFile(const std::string& path, const std::string& text) {
  std::ostringstream unused;  // "-" would mean standard output; a world file names a file
  if (path == "-") throw std::runtime_error("cannot write -: a world file needs a file name");
  TOutputFile file(path, unused);
  file.Stream() << text;
  file.Commit();
}

}  // namespace zemlix
