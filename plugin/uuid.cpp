#include "plugin/uuid.hpp"

#include <cstdint>

namespace {

std::uint32_t digit_value(char c) {
  if (c >= '1' && c <= '9')
    return static_cast<std::uint32_t>(c - '0');
  if (c >= 'A' && c <= 'F')
    return static_cast<std::uint32_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f')
    return static_cast<std::uint32_t>(c - 'a' + 10);
  return 0;
}

// Eight characters at the given positions, most significant digit first.
std::uint32_t word_from(const char* text, const int (&positions)[8]) {
  std::uint32_t word = 0;
  for (int position : positions) word = word * 16 + digit_value(text[position]);
  return word;
}

}  // namespace

Uuid parse_uuid(const char* text) {
  static constexpr int word1[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  static constexpr int word2[8] = {9, 10, 11, 12, 14, 15, 16, 17};
  static constexpr int word3[8] = {19, 20, 21, 22, 24, 25, 26, 27};
  static constexpr int word4[8] = {28, 29, 30, 31, 32, 33, 34, 35};
  return Uuid{{word_from(text, word1), word_from(text, word2), word_from(text, word3),
               word_from(text, word4)}};
}

bool uuid_equal(const Uuid& a, const Uuid& b) {
  for (int i = 0; i < 4; ++i) {
    if (a.words[i] != b.words[i])
      return false;
  }
  return true;
}
