#include "refhost/console/printable_text.hpp"

#include <cstdint>

namespace {

void append_escaped(std::string& out, unsigned char byte) {
  static const char digits[] = "0123456789abcdef";
  switch (byte) {
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      out += "\\x";
      out += digits[byte >> 4];
      out += digits[byte & 0xF];
  }
}

// The length of the well-formed UTF-8 sequence at `at` (overlong forms,
// surrogates and values past U+10FFFF excluded) and its code point; 0 when
// the bytes there are not one.
std::size_t utf8_sequence(const std::string& text, std::size_t at, std::uint32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  std::uint32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07u;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length)
    return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80)
      return 0;
    code_point = code_point << 6 | (byte(at + i) & 0x3Fu);
  }
  if (code_point < lowest || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF))
    return 0;
  return length;
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += text[at++];
      continue;
    }
    std::uint32_t code_point = 0;
    const std::size_t length = byte >= 0x80 ? utf8_sequence(text, at, code_point) : 0;
    // C1 controls (U+0080 to U+009F) act on many terminals as escapes do.
    if (length != 0 && code_point > 0x9F) {
      out.append(text, at, length);
      at += length;
    } else {
      append_escaped(out, byte);
      ++at;
    }
  }
  return out;
}
