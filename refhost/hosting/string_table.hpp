#pragma once
// The plug-in's localized string table: a small XML text of the form
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <strings>
//     <string id="plugin_title" value="Quillmark" />
//   </strings>
//
// read by a scanner that knows exactly this shape (plus comments), not by a
// general XML parser.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct string_table_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The entries as (id, value) pairs in the order of the text, values with
// the five predefined entities and numeric character references decoded
// (to UTF-8). Throws string_table_error naming the byte offset of the
// fault for anything malformed: unterminated markup, a missing root, an
// entry without id or value, a repeated id, an unknown entity, text outside
// the entries. Reads only the `size` bytes given; no terminator is needed.
std::vector<std::pair<std::string, std::string>> parse_string_table(const char* data,
                                                                    std::size_t size);
