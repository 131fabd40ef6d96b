#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace zemlix::testing {

// A small well-formedness check: one root, every tag closed in order, attributes quoted,
// no bare '<' or '&' in text, only the five predefined entities. Returns "" or the fault.
inline std::string XmlFault(const std::string& xml) {
  std::vector<std::string> open;
  size_t at = 0;
  if (xml.rfind("<?xml ", 0) == 0) at = xml.find("?>") + 2;
  int roots = 0;
  const auto entityAt = [](const std::string& text, size_t amp) {
    for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
      if (text.compare(amp, std::char_traits<char>::length(entity), entity) == 0) return true;
    return false;
  };
  while (at < xml.size()) {
    if (xml[at] != '<') {
      if (xml[at] == '&' && !entityAt(xml, at)) return "bad entity at " + std::to_string(at);
      if (open.empty() && !std::isspace(static_cast<unsigned char>(xml[at]))) return "text outside the root";
      ++at;
      continue;
    }
    const size_t end = xml.find('>', at);
    if (end == std::string::npos) return "unclosed tag";
    std::string tag = xml.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return "mismatched </" + tag.substr(1) + ">";
      open.pop_back();
      continue;
    }
    const bool empty = tag.back() == '/';
    if (empty) tag.pop_back();
    size_t p = 0;
    while (p < tag.size() && !std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
    const std::string name = tag.substr(0, p);
    if (name.empty() || name.find_first_of("<&\"'=") != std::string::npos) return "bad tag name '" + name + "'";
    // Attributes: name="value" separated by spaces.
    while (p < tag.size()) {
      while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
      if (p == tag.size()) break;
      const size_t equals = tag.find('=', p);
      if (equals == std::string::npos || equals + 1 >= tag.size() || tag[equals + 1] != '"')
        return "unquoted attribute in <" + name + ">";
      const size_t close = tag.find('"', equals + 2);
      if (close == std::string::npos) return "unclosed attribute in <" + name + ">";
      const std::string value = tag.substr(equals + 2, close - equals - 2);
      if (value.find('<') != std::string::npos) return "'<' in an attribute of <" + name + ">";
      for (size_t amp = value.find('&'); amp != std::string::npos; amp = value.find('&', amp + 1))
        if (!entityAt(value, amp))
          return "bad entity in an attribute of <" + name + ">";
      p = close + 1;
    }
    if (open.empty() && ++roots > 1) return "more than one root";
    if (!empty) open.push_back(name);
  }
  return open.empty() ? (roots == 1 ? "" : "no root") : "<" + open.back() + "> left open";
}

}  // namespace zemlix::testing
