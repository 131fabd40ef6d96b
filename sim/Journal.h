#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "files/OutputFile.h"

namespace zemlix {

// The journal of a sweep: every finished work item, so that a run that crashed or was
// stopped can be run again and do only what is missing. A plain text file:
//
//   zemlix-sim journal 1
//   options <the options that decide every item's result, as TSweep::Identity gives them>
//   item <index> <number of rows> <FNV-1a of the index line and the rows, 16 hex digits>
//   <the item's rows, each ending in a line feed>
//   item ...
//
// Records are appended whole and forced onto the disk one by one, so the only damage a
// crash can do is cut the last record short: such a record is ignored (the item runs
// again). Anything else that does not read back exactly is refused.
struct TJournalContents {
  std::map<uint64_t, std::string> Finished;  // rows by item index
  bool CutShort = false;                     // the file ended inside a record
};

// A journal that cannot be used: the message names the file and, for damage, the line.
class EJournalRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads what an earlier run left in `path`; a missing or empty file is a new journal.
// `identity` must match the file's options line and every index must be below `items`.
TJournalContents ReadJournal(const std::string& path, const std::string& identity, uint64_t items);

// Writes a journal. The constructor writes the header and `finished` under a temporary
// name and renames it over `path` (dropping a record cut short), all on the disk before it
// returns. Errors are std::runtime_error from TOutputFile ("cannot write PATH: reason").
class TJournalWriter {
 public:
  TJournalWriter(const std::string& path, const std::string& identity,
                 const std::map<uint64_t, std::string>& finished);

  // Appends one finished item; on the disk when this returns. Not thread-safe.
  void Append(uint64_t index, const std::string& rows);
  void Close() { File_->Commit(); }

 private:
  void Write(uint64_t index, const std::string& rows);

  std::unique_ptr<TOutputFile> File_;
};

}  // namespace zemlix
