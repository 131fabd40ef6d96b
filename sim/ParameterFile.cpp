#include "sim/ParameterFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <toml++/toml.h>

#include "files/LineReader.h"

namespace zemlix {
namespace {

// A parameter file is a few dozen lines: anything larger is not one (a device of zeros, a
// file given by mistake), and is refused after reading this much rather than read whole.
constexpr size_t MaxFileBytes = size_t{4} << 20;

// The parameters have plain names and their values are numbers or a list of them, so no
// parameter file nests deeper than this. The parser bounds nested values but not dotted
// keys or table headers, whose depth it builds (and tears down) recursively: deeper nesting
// is refused before the parser sees it.
constexpr int MaxNesting = 8;

const char* TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "a list";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a real";
    default: return "a date or time";
  }
}

// The TOML value as the registry takes it, or why it cannot be one.
std::string Apply(const TParameterInfo& info, const toml::node& node, TParameters& parameters) {
  if (const auto* integer = node.as_integer()) return SetParameter(parameters, info, integer->get());
  if (const auto* real = node.as_floating_point()) return SetParameter(parameters, info, real->get());
  if (const auto* array = node.as_array(); array && info.List) {
    std::vector<int64_t> entries;
    for (const toml::node& entry : *array) {
      const auto* integer = entry.as_integer();
      if (!integer) return "must be " + DescribeRange(info) + ", not a list holding " + TypeName(entry);
      entries.push_back(integer->get());
    }
    return SetParameter(parameters, info, entries);
  }
  return "must be " + DescribeRange(info) + ", not " + TypeName(node);
}

// The first line of `text` with a key or table header of more than MaxNesting parts, or
// lists and inline tables nested more than MaxNesting deep; 0 when there is none. Strings
// and comments are skipped, so dots and brackets inside them count for nothing. Where the
// text is not TOML the scan goes on as best it can: the parser stops there anyway.
uint64_t DeepNestingLine(std::string_view text) {
  enum TState { LineStart, Key, Header, Value } state = LineStart;
  uint64_t line = 1;
  int parts = 1;            // of the key or header being read
  std::string open;         // the lists ('[') and inline tables ('{') open in a value
  const auto startsWith = [&](size_t at, std::string_view what) { return text.substr(at, what.size()) == what; };
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\n') {
      ++line;
      if (open.empty()) state = LineStart;  // inside a list, the value goes on
      continue;
    }
    if (c == '#') {  // a comment, to the line's end
      while (at + 1 < text.size() && text[at + 1] != '\n') ++at;
      continue;
    }
    if (c == '"' || c == '\'') {
      // A string or quoted key: skipped whole. Multi-line strings may hold line ends and
      // close with up to two more quotes; single-line ones end at the line's end at most.
      const std::string triple(3, c);
      if (startsWith(at, triple)) {
        size_t end = at + 3;
        for (; end < text.size() && !startsWith(end, triple); ++end) {
          if (c == '"' && text[end] == '\\') ++end;
          if (end < text.size() && text[end] == '\n') ++line;
        }
        size_t quotes = 0;  // the last three close the string
        while (end + quotes < text.size() && text[end + quotes] == c && quotes < 5) ++quotes;
        at = std::min(end + std::max<size_t>(quotes, 1), text.size()) - 1;
      } else {
        size_t end = at + 1;
        for (; end < text.size() && text[end] != c && text[end] != '\n'; ++end)
          if (c == '"' && text[end] == '\\' && end + 1 < text.size() && text[end + 1] != '\n') ++end;
        at = end < text.size() && text[end] == c ? end : end - 1;
      }
      if (state == LineStart) {
        state = Key;
        parts = 1;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r') continue;
    if (state == LineStart) {
      parts = 1;
      if (c == '[') {
        state = Header;
        if (startsWith(at + 1, "[")) {  // an array of tables holds its tables one level down
          ++parts;
          ++at;
        }
        continue;
      }
      state = Key;
    }
    switch (state) {
      case Key:
        if (c == '.' && ++parts > MaxNesting) return line;
        if (c == '=') state = Value;
        if (c == '}' && !open.empty()) {  // an empty inline table
          open.pop_back();
          state = Value;
        }
        break;
      case Header:
        if (c == '.' && ++parts > MaxNesting) return line;
        if (c == ']') state = Value;  // nothing may follow but a comment
        break;
      case Value:
        if (c == '[' || c == '{') {
          open += c;
          if (open.size() > static_cast<size_t>(MaxNesting)) return line;
          if (c == '{') {
            state = Key;  // an inline table begins with a key
            parts = 1;
          }
        } else if ((c == ']' || c == '}') && !open.empty()) {
          open.pop_back();
        } else if (c == ',' && !open.empty() && open.back() == '{') {
          state = Key;
          parts = 1;
        }
        break;
      case LineStart:
        break;
    }
  }
  return 0;
}

}  // namespace

std::string Shown(std::string_view text) { return Printable(text, 4096); }

std::string ApplyParameterFile(const std::string& path, TParameters& parameters, std::vector<std::string>* names) {
  const std::string file = Shown(path);
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return file + ": cannot read the file: it is a directory";
  std::ifstream in(path, std::ios::binary);
  if (!in) return file + ": cannot open the file: " + std::strerror(errno);
  std::string text(MaxFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return file + ": cannot read the file";
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > MaxFileBytes)
    return file + ": the file is larger than " + std::to_string(MaxFileBytes >> 20) +
           " MiB, more than a parameter file holds";
  if (const uint64_t line = DeepNestingLine(text); line > 0)
    return file + ":" + std::to_string(line) + ": keys, tables or lists nested more than " +
           std::to_string(MaxNesting) + " levels deep (the parameters have plain names)";
  toml::table table;
  try {
    table = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    return file + ":" + std::to_string(e.source().begin.line) + ": " + Shown(e.description());
  }
  for (const auto& [key, node] : table) {
    const std::string where = file + ":" + std::to_string(node.source().begin.line) + ": ";
    const TParameterInfo* info = FindParameter(key.str());
    if (!info) return where + "unknown parameter '" + Shown(key.str()) + "'";
    const std::string reason = Apply(*info, node, parameters);
    if (!reason.empty()) return where + std::string(key.str()) + " " + reason;
    if (names) names->emplace_back(key.str());
  }
  return {};
}

std::string ApplyParameterSetting(std::string_view setting, TParameters& parameters, std::vector<std::string>* names) {
  const size_t equals = setting.find('=');
  if (equals == std::string_view::npos) return Shown(setting) + " is not name=value";
  const std::string name(setting.substr(0, equals));
  const TParameterInfo* info = FindParameter(name);
  if (!info) return "unknown parameter '" + Shown(name) + "'";
  // The refusal quotes the value as given.
  const std::string reason = SetParameterText(parameters, *info, setting.substr(equals + 1));
  if (!reason.empty()) return name + " " + Shown(reason);
  if (names) names->push_back(name);
  return {};
}

std::string DescribeParameters() {
  std::string text;
  for (const TParameterInfo& info : ParameterRegistry())
    text += "  " + std::string(info.Name) + " (default " + DescribeDefault(info) + "; " + DescribeRange(info) +
            ")\n      " + info.Meaning + "\n";
  return text;
}

}  // namespace zemlix
