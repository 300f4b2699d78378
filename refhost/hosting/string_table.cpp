#include "refhost/hosting/string_table.hpp"

#include <cstdint>
#include <cstring>

namespace {

using entry = std::pair<std::string, std::string>;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':';
}

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class scanner {
 public:
  scanner(const char* data, std::size_t size) : data_(data), size_(size) {}

  std::vector<entry> table() {
    skip_blanks_and_comments();
    if (starts_with("<?"))
      skip_past("?>", "XML declaration");
    skip_blanks_and_comments();
    if (!take("<strings"))
      fail("missing root element <strings>");
    skip_blanks();
    std::vector<entry> entries;
    if (take("/>"))
      return finish(entries);
    if (!take(">"))
      fail("expected '>' to close <strings>");
    for (;;) {
      skip_blanks_and_comments();
      if (at_end())
        fail("missing </strings>");
      if (take("</strings"))
        break;
      if (!starts_with("<string") || !is_tag_end(position_ + 7)) {
        fail(peek() == '<' ? "unexpected element, expected <string>"
                           : "unexpected text, expected <string>");
      }
      entries.push_back(string_element(entries));
    }
    skip_blanks();
    if (!take(">"))
      fail("expected '>' to close </strings>");
    return finish(entries);
  }

 private:
  std::vector<entry> finish(std::vector<entry>& entries) {
    skip_blanks_and_comments();
    if (!at_end())
      fail("unexpected content after the root element");
    return std::move(entries);
  }

  entry string_element(const std::vector<entry>& earlier) {
    const std::size_t start = position_;
    position_ += 7;  // "<string"
    bool have_id = false;
    bool have_value = false;
    entry result;
    for (;;) {
      const bool separated = skip_blanks();
      if (at_end())
        fail_at(start, "unterminated <string> element");
      if (take("/>"))
        break;
      if (peek() == '>')
        fail("<string> must be empty: expected '/>'");
      if (!separated)
        fail("expected a blank before the attribute");
      const std::size_t name_start = position_;
      const std::string name = attribute_name();
      std::string value = attribute_value();
      if (name == "id" || name == "value") {
        bool& seen = name == "id" ? have_id : have_value;
        if (seen)
          fail_at(name_start, "repeated attribute '" + name + "'");
        seen = true;
        (name == "id" ? result.first : result.second) = std::move(value);
      }
    }
    if (!have_id)
      fail_at(start, "<string> without an id attribute");
    if (!have_value)
      fail_at(start, "<string> without a value attribute");
    for (const entry& other : earlier) {
      if (other.first == result.first)
        fail_at(start, "repeated id '" + result.first + "'");
    }
    return result;
  }

  std::string attribute_name() {
    const std::size_t start = position_;
    while (!at_end() && is_name_char(peek())) ++position_;
    if (position_ == start)
      fail("expected an attribute name");
    std::string name(data_ + start, position_ - start);
    skip_blanks();
    if (!take("="))
      fail("expected '=' after attribute '" + name + "'");
    skip_blanks();
    return name;
  }

  std::string attribute_value() {
    if (at_end() || (peek() != '"' && peek() != '\''))
      fail("expected a quoted attribute value");
    const std::size_t start = position_;
    const char quote = data_[position_++];
    std::string value;
    for (;;) {
      if (at_end())
        fail_at(start, "unterminated attribute value");
      const char c = data_[position_];
      if (c == quote)
        break;
      if (c == '<')
        fail("'<' in an attribute value");
      if (c == '&') {
        reference(value);
      } else {
        // A literal line break or tab in an attribute reads as a blank.
        value += is_blank(c) ? ' ' : c;
        ++position_;
      }
    }
    ++position_;
    return value;
  }

  void reference(std::string& out) {
    const std::size_t start = position_;
    // No reference this scanner knows is longer than "&#x10FFFF;".
    const std::size_t window = size_ - start < 12 ? size_ - start : 12;
    const void* semicolon = std::memchr(data_ + start, ';', window);
    if (semicolon == nullptr)
      fail_at(start, "unterminated entity reference");
    const std::size_t end = static_cast<const char*>(semicolon) - data_;
    const std::string name(data_ + start + 1, end - start - 1);
    position_ = end + 1;
    static const struct {
      const char* name;
      char text;
    } predefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : predefined) {
      if (name == entity.name) {
        out += entity.text;
        return;
      }
    }
    if (name.size() < 2 || name[0] != '#')
      fail_at(start, "unknown entity '&" + name + ";'");
    const bool hex = name[1] == 'x';
    const std::size_t first_digit = hex ? 2 : 1;
    if (name.size() == first_digit)
      fail_at(start, "character reference without digits");
    std::uint32_t code = 0;
    for (std::size_t i = first_digit; i < name.size(); ++i) {
      const char c = name[i];
      std::uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<std::uint32_t>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        fail_at(start, "bad character reference '&" + name + ";'");
      }
      code = code * (hex ? 16 : 10) + digit;
      if (code > 0x10FFFF)
        fail_at(start, "character reference beyond Unicode");
    }
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      fail_at(start, "character reference to an invalid character");
    }
    append_utf8(out, code);
  }

  bool at_end() const { return position_ >= size_; }
  char peek() const { return data_[position_]; }

  bool starts_with(const char* text) const {
    const std::size_t length = std::strlen(text);
    return size_ - position_ >= length && std::memcmp(data_ + position_, text, length) == 0;
  }
  bool take(const char* text) {
    if (!starts_with(text))
      return false;
    position_ += std::strlen(text);
    return true;
  }
  // Whether a tag name ends at `offset`, so "<string" does not match "<strings".
  bool is_tag_end(std::size_t offset) const {
    return offset >= size_ || is_blank(data_[offset]) || data_[offset] == '/' ||
           data_[offset] == '>';
  }

  bool skip_blanks() {
    const std::size_t start = position_;
    while (!at_end() && is_blank(peek())) ++position_;
    return position_ != start;
  }
  void skip_blanks_and_comments() {
    for (;;) {
      skip_blanks();
      if (!starts_with("<!--"))
        return;
      skip_past("-->", "comment");
    }
  }
  void skip_past(const char* terminator, const char* what) {
    const std::size_t start = position_;
    const std::size_t length = std::strlen(terminator);
    for (; size_ - position_ >= length; ++position_) {
      if (std::memcmp(data_ + position_, terminator, length) == 0) {
        position_ += length;
        return;
      }
    }
    fail_at(start, std::string("unterminated ") + what);
  }

  [[noreturn]] void fail(const std::string& reason) const { fail_at(position_, reason); }
  [[noreturn]] void fail_at(std::size_t offset, const std::string& reason) const {
    throw string_table_error("string table: " + reason + " at byte " + std::to_string(offset));
  }

  const char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace

std::vector<entry> parse_string_table(const char* data, std::size_t size) {
  return scanner(data, size).table();
}
