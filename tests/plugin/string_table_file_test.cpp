// The two string tables, byte for byte in the layout the host reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string read_table(const char* name) {
  std::ifstream file(std::string(VELLOQ_SOURCE_DIR) + "/resources/" + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// (id, value) of every entry line, in order; fails on any other line shape.
std::vector<std::pair<std::string, std::string>> entries_of(const std::string& text) {
  const std::vector<std::string> lines = lines_of(text);
  EXPECT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines.front(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  EXPECT_EQ(lines.at(1), "<strings>");
  EXPECT_EQ(lines.back(), "</strings>");  // and no line feed after it
  // Blank lines separate identity, title and messages.
  EXPECT_EQ(lines.at(6), "");
  EXPECT_EQ(lines.at(8), "");
  const std::regex entry("\t<string id=\"([a-z_]+)\" value=\"([^\"<>&]*)\" />");
  std::vector<std::pair<std::string, std::string>> entries;
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    if (i == 6 || i == 8)
      continue;
    std::smatch match;
    EXPECT_TRUE(std::regex_match(lines[i], match, entry)) << "line " << i + 1 << ": " << lines[i];
    if (!match.empty())
      entries.emplace_back(match[1], match[2]);
  }
  return entries;
}

const std::vector<std::string> expected_ids = {
    "product_name",           "author", "company", "comments", "plugin_title", "msg_outofmemory",
    "msg_cannot_write_stream"};

TEST(string_tables, are_plain_utf8_with_line_feeds_only) {
  for (const char* name : {"strings_en.xml", "strings_ja.xml"}) {
    const std::string text = read_table(name);
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_NE(text.compare(0, 3, "\xEF\xBB\xBF"), 0) << name << " starts with a byte-order mark";
    EXPECT_EQ(text.find('\r'), std::string::npos) << name;
    EXPECT_NE(text.back(), '\n') << name;
  }
}

TEST(string_tables, english_entries_hold_the_products_texts) {
  const auto entries = entries_of(read_table("strings_en.xml"));
  ASSERT_EQ(entries.size(), expected_ids.size());
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].first, expected_ids[i]);
  EXPECT_EQ(entries[0].second, "Quillmark");
  EXPECT_FALSE(entries[1].second.empty());
  EXPECT_FALSE(entries[2].second.empty());
  EXPECT_EQ(entries[3].second, "Quillmark Effector.");
  EXPECT_EQ(entries[4].second, "Quillmark");
  EXPECT_EQ(entries[5].second, "Quillmark: Out of memory.");
  EXPECT_EQ(entries[6].second, "Quillmark: Can't save settings.");
}

TEST(string_tables, japanese_entries_have_the_same_ids_and_japanese_texts) {
  const auto entries = entries_of(read_table("strings_ja.xml"));
  ASSERT_EQ(entries.size(), expected_ids.size());
  for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].first, expected_ids[i]);
  // The description and both messages are written in Japanese (non-ASCII
  // UTF-8); the product name and title stay the brand name.
  for (std::size_t i : {3u, 5u, 6u}) {
    const std::string& value = entries[i].second;
    EXPECT_TRUE(std::any_of(value.begin(), value.end(), [](char c) {
      return static_cast<unsigned char>(c) >= 0x80;
    })) << expected_ids[i];
  }
  EXPECT_EQ(entries[4].second, "Quillmark");
}

}  // namespace
