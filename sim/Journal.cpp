#include "sim/Journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "files/Checksum.h"
#include "files/LineReader.h"
#include "files/SavedState.h"

namespace zemlix {
namespace {

const std::string Magic = "zemlix-sim journal 1";
const std::string OptionsPrefix = "options ";

// Whether a line reads as a record's first line.
bool IsItemLine(const std::string& line, std::string& indexText, uint64_t& index, uint64_t& count, uint64_t& checksum) {
  std::istringstream fields(line);
  std::string word, countText, checksumText, extra;
  fields >> word >> indexText >> countText >> checksumText;
  return word == "item" && !(fields >> extra) && ParseInteger(indexText, index) && ParseInteger(countText, count) &&
         checksumText.size() == 16 && ParseInteger(checksumText, checksum, 16);
}

uint64_t ItemChecksum(const std::string& indexText, const std::string& rows) {
  TChecksum checksum;
  checksum.Add(indexText);
  checksum.Add(rows);
  return checksum.Value;
}

}  // namespace

TJournalContents ReadJournal(const std::string& path, const std::string& identity, uint64_t items) {
  TJournalContents contents;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return contents;
    throw EJournalRefused("cannot read " + path + ": " + std::strerror(errno));
  }
  // The options line grows with the sweep's values: bound lines as world files are, far
  // beyond anything the writer writes.
  TLineReader reader(in);
  const auto refuse = [&](const std::string& what) {
    return EJournalRefused(path + " line " + std::to_string(reader.LineNumber()) + ": " + what);
  };
  try {
    std::string line;
    if (!reader.Next(line)) return contents;
    if (line != Magic || !reader.LineEnded())
      throw EJournalRefused(path + " is not a zemlix-sim journal (it begins \"" + Printable(line) + "\")");
    if (!reader.Next(line) || !reader.LineEnded() || line.rfind(OptionsPrefix, 0) != 0)
      throw refuse("expected the options line, found \"" + Printable(line) + "\"");
    if (line.substr(OptionsPrefix.size()) != identity)
      throw EJournalRefused(path + " was written for other options (" + Printable(line.substr(OptionsPrefix.size()), 200) +
                            "), not for these (" + identity + ")");

    while (reader.Next(line)) {
      // A crash can only cut the last record short; it runs again.
      if (!reader.LineEnded()) {
        contents.CutShort = true;
        break;
      }
      std::string indexText;
      uint64_t index = 0, count = 0, checksum = 0;
      if (!IsItemLine(line, indexText, index, count, checksum))
        throw refuse("expected \"item INDEX ROWS CHECKSUM\", found \"" + Printable(line) + "\"");
      if (index >= items)
        throw refuse("item " + indexText + " is beyond the last of this sweep's " + std::to_string(items) + " items");
      if (contents.Finished.count(index) > 0) throw refuse("item " + indexText + " is there twice");
      const uint64_t itemLine = reader.LineNumber();
      std::string rows;
      bool whole = true;
      uint64_t nextRecordLine = 0;  // a line among the rows that reads as a record's first
      for (uint64_t row = 0; row < count && whole; ++row) {
        whole = reader.Next(line) && reader.LineEnded();
        rows += line + "\n";
        std::string ignoredText;
        uint64_t ignored = 0;
        if (nextRecordLine == 0 && IsItemLine(line, ignoredText, ignored, ignored, ignored))
          nextRecordLine = reader.LineNumber();
      }
      // Rows never read as a record's first line: a record that runs into another was
      // damaged, not cut short by a crash, and the records after it must not be lost unseen.
      if (!whole && nextRecordLine != 0)
        throw EJournalRefused(path + " line " + std::to_string(itemLine) + ": item " + indexText + " claims " +
                              std::to_string(count) + " rows, but line " + std::to_string(nextRecordLine) +
                              " begins another record");
      if (!whole) {
        contents.CutShort = true;
        break;
      }
      if (ItemChecksum(indexText, rows) != checksum)
        throw EJournalRefused(path + " line " + std::to_string(itemLine) + ": item " + indexText +
                              " does not match its checksum");
      contents.Finished.emplace(index, std::move(rows));
    }
  } catch (const std::length_error& e) {
    throw EJournalRefused(path + ": " + e.what());
  }
  if (in.bad()) throw EJournalRefused("cannot read " + path + ": " + std::strerror(errno));
  return contents;
}

TJournalWriter::TJournalWriter(const std::string& path, const std::string& identity,
                               const std::map<uint64_t, std::string>& finished)
    : File_(std::make_unique<TOutputFile>(path, std::cout)) {
  File_->Stream() << Magic << "\n" << OptionsPrefix << identity << "\n";
  // The old journal is replaced only once all it held is in the new one.
  for (const auto& [index, rows] : finished) Write(index, rows);
  File_->Persist();
}

void TJournalWriter::Write(uint64_t index, const std::string& rows) {
  const std::string indexText = std::to_string(index);
  const auto count = static_cast<uint64_t>(std::count(rows.begin(), rows.end(), '\n'));
  File_->Stream() << "item " << indexText << " " << count << " " << FormatChecksum(ItemChecksum(indexText, rows))
                  << "\n"
                  << rows;
}

void TJournalWriter::Append(uint64_t index, const std::string& rows) {
  Write(index, rows);
  File_->Persist();
}

}  // namespace zemlix
