#include "refhost/files/hidden_names.hpp"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>

#include "refhost/files/output_file_platform.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t longest_suffix = sizeof temporary_suffix - 1;
// ".", the key, ".", the random part, the longest suffix.
constexpr std::size_t longest_key =
    max_file_name_bytes - 2 - unguessable_part_length - longest_suffix;
constexpr std::size_t hash_digits = 16;

bool is_random_part_character(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

// FNV-1a: a name's 64 bits, the same on every machine and build.
std::uint64_t name_hash(const std::string& name) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 0x100000001B3u;
  }
  return hash;
}

}  // namespace

// About 62 bits, which nobody planting files can guess.
std::string unguessable_name_part() {
  thread_local std::random_device device;
  static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string part;
  while (part.size() < unguessable_part_length) {
    std::uint32_t bits = device();
    // Five letters from each 32-bit draw, as base-36 digits of its value.
    for (int i = 0; i < 5 && part.size() < unguessable_part_length; ++i) {
      part += alphabet[bits % 36];
      bits /= 36;
    }
  }
  return part;
}

std::string hidden_key(const std::string& file_name) {
  if (file_name.size() <= longest_key)
    return file_name;
  // The beginning's plain characters only: a cut inside a character of
  // UTF-8 or of a Windows code page would make no valid name.
  std::string key;
  for (char c : file_name) {
    if (key.size() == longest_key - 1 - hash_digits || c < 0x20 || c > 0x7E)
      break;
    key += c;
  }
  static const char digits[] = "0123456789abcdef";
  std::uint64_t hash = name_hash(file_name);
  std::string hex(hash_digits, '0');
  for (std::size_t k = hash_digits; k-- > 0; hash >>= 4) hex[k] = digits[hash & 15];
  return key + "~" + hex;
}

std::string hidden_name(const std::string& key, const std::string& random_part,
                        const char* suffix) {
  return "." + key + (random_part.empty() ? "" : "." + random_part) + suffix;
}

std::string key_of_hidden_name(const std::string& name, const char* suffix, bool with_random_part) {
  const std::size_t suffix_length = std::strlen(suffix);
  const std::size_t random_length = with_random_part ? 1 + unguessable_part_length : 0;
  // ".", at least one character of the key, the random part, the suffix.
  if (name.size() < 2 + random_length + suffix_length || name[0] != '.' ||
      name.compare(name.size() - suffix_length, suffix_length, suffix) != 0)
    return "";
  const std::size_t key_end = name.size() - suffix_length - random_length;
  if (with_random_part) {
    if (name[key_end] != '.')
      return "";
    for (std::size_t i = key_end + 1; i < key_end + random_length; ++i) {
      if (!is_random_part_character(name[i]))
        return "";
    }
  }
  return name.substr(1, key_end - 1);
}

std::string longest_hidden_path(const std::string& target) {
  const fs::path path(target);
  const std::string random(unguessable_part_length, '0');
  return (path.parent_path() /
          hidden_name(hidden_key(path.filename().string()), random, temporary_suffix))
      .string();
}

std::string path_limitation(const std::string& target) {
  const std::string name = fs::path(target).filename().string();
  if (name.size() > max_file_name_bytes) {
    return target + ": its file name is " + std::to_string(name.size()) +
           " bytes long, more than the " + std::to_string(max_file_name_bytes) +
           " a file name may hold";
  }
  if (!output_platform::path_fits(target) ||
      !output_platform::path_fits(longest_hidden_path(target))) {
    return target + ": its path is " + std::to_string(target.size()) +
           " bytes long, too long for this system with the hidden files written beside it";
  }
  return "";
}
