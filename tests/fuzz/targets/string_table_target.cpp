#include <set>
#include <string>

#include "refhost/hosting/string_table.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"

namespace {

constexpr const char* string_table_target = "fuzz_string_table";

// An attribute value the scanner reads back as `text`: markup characters
// and blanks other than the space go as references (a literal line break or
// tab would read as a space), every other byte as it is.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "&quot;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#x9;";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

}  // namespace

int fuzz_string_table(const std::uint8_t* data, std::size_t size) {
  std::vector<std::pair<std::string, std::string>> entries;
  try {
    entries = parse_string_table(reinterpret_cast<const char*>(data), size);
  } catch (const string_table_error&) {
    return 0;
  }

  std::set<std::string> ids;
  for (const auto& entry : entries) {
    fuzz_require(ids.insert(entry.first).second, string_table_target, "accepted a repeated id");
  }

  std::string written = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<strings>\n";
  for (const auto& entry : entries) {
    written += "\t<string id=" + quoted(entry.first) + " value=" + quoted(entry.second) + " />\n";
  }
  written += "</strings>";
  std::vector<std::pair<std::string, std::string>> again;
  try {
    again = parse_string_table(written.data(), written.size());
  } catch (const string_table_error&) {
    fuzz_require(false, string_table_target, "rejected a table written from its own entries");
  }
  fuzz_require(again == entries, string_table_target,
               "a table written from its entries reads back differently");
  return 0;
}
