#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "refhost/hosting/string_table.hpp"

namespace {

using table = std::vector<std::pair<std::string, std::string>>;

// Parses from a buffer of exactly the text's length, with no terminator
// after it, so that the sanitizer build sees any read beyond the end.
table parse(const std::string& text) {
  const std::unique_ptr<char[]> copy(new char[text.empty() ? 1 : text.size()]);
  std::memcpy(copy.get(), text.data(), text.size());
  return parse_string_table(copy.get(), text.size());
}

std::string rejection(const std::string& text) {
  try {
    parse(text);
  } catch (const string_table_error& error) {
    return error.what();
  }
  return "(accepted)";
}

std::string committed(const char* name) {
  std::ifstream in(std::string(VELLOQ_SOURCE_DIR "/resources/") + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string wrapped(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<strings>\n" + entries + "\n</strings>";
}

const std::vector<std::string> expected_ids = {
    "product_name",           "author", "company", "comments", "plugin_title", "msg_outofmemory",
    "msg_cannot_write_stream"};

std::vector<std::string> ids_of(const table& entries) {
  std::vector<std::string> ids;
  for (const auto& entry : entries) ids.push_back(entry.first);
  return ids;
}

}  // namespace

TEST(string_table, CommittedTablesHoldTheSevenEntriesInOrder) {
  const std::string english_text = committed("strings_en.xml");
  const std::string japanese_text = committed("strings_ja.xml");
  ASSERT_FALSE(english_text.empty());
  ASSERT_FALSE(japanese_text.empty());

  const table english = parse(english_text);
  EXPECT_EQ(ids_of(english), expected_ids);
  ASSERT_EQ(english.size(), 7u);
  EXPECT_EQ(english[0].second, "Quillmark");
  EXPECT_EQ(english[3].second, "Quillmark Effector.");
  EXPECT_EQ(english[4].second, "Quillmark");
  EXPECT_EQ(english[5].second, "Quillmark: Out of memory.");
  EXPECT_EQ(english[6].second, "Quillmark: Can't save settings.");

  const table japanese = parse(japanese_text);
  EXPECT_EQ(ids_of(japanese), expected_ids);
  ASSERT_EQ(japanese.size(), 7u);
  EXPECT_EQ(japanese[4].second, "Quillmark");
  // The UTF-8 text comes through byte for byte.
  EXPECT_NE(japanese_text.find(japanese[5].second), std::string::npos);
  EXPECT_NE(japanese[5].second, english[5].second);
}

TEST(string_table, DecodesEntitiesAndCharacterReferences) {
  const table entries =
      parse(wrapped("\t<string id=\"a\" value=\"&lt;&gt;&amp;&quot;&apos;\" />\n"
                    "\t<string value='&#65;&#x42;&#xe9;&#x3042;&#x1F600;' id='b'/>\n"
                    "\t<!-- a remark -->\n"
                    "\t<string id=\"c\" value=\"two\nlines &#10;\" other=\"ignored\"/>"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>("a", "<>&\"'")));
  EXPECT_EQ(entries[1],
            (std::pair<std::string, std::string>("b", "AB\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80")));
  EXPECT_EQ(entries[2].second, "two lines \n");
  EXPECT_TRUE(parse("<strings></strings>").empty());
  EXPECT_TRUE(parse("<strings />\n").empty());
}

TEST(string_table, RejectsMalformedTablesAndSaysWhere) {
  struct {
    std::string text;
    const char* reason;
  } const cases[] = {
      {"", "missing root element <strings>"},
      {"<?xml version=\"1.0\"?>\n<other/>", "missing root element <strings>"},
      {"<?xml version=\"1.0\"", "unterminated XML declaration at byte 0"},
      {"<strings>\n<string id=\"a\" value=\"b\" />", "missing </strings>"},
      {"<strings><string id=\"a\" value=\"b\"", "unterminated <string> element at byte 9"},
      {"<strings><string id=\"a\" value=\"b></strings>", "'<' in an attribute value"},
      {"<strings><string id=\"a\" value=\"b", "unterminated attribute value at byte 30"},
      {"<strings><string value=\"b\" /></strings>", "without an id attribute at byte 9"},
      {"<strings><string id=\"a\" /></strings>", "without a value attribute at byte 9"},
      {"<strings><string id=\"a\" value=\"&nbsp;\" /></strings>",
       "unknown entity '&nbsp;' at byte 31"},
      {"<strings><string id=\"a\" value=\"&amp b;\" /></strings>", "unknown entity '&amp b;'"},
      {"<strings><string id=\"a\" value=\"x&amp\" /></strings>", "unterminated entity reference"},
      {"<strings><string id=\"a\" value=\"&#x;\" /></strings>", "without digits"},
      {"<strings><string id=\"a\" value=\"&#12a;\" /></strings>", "bad character reference"},
      {"<strings><string id=\"a\" value=\"&#0;\" /></strings>", "invalid character"},
      {"<strings><string id=\"a\" value=\"&#xD800;\" /></strings>", "invalid character"},
      {"<strings><string id=\"a\" value=\"&#x110000;\" /></strings>", "beyond Unicode"},
      {"<strings><string id=\"a\" value=\"b\"></string></strings>", "must be empty"},
      {"<strings><string id=\"a\"value=\"b\" /></strings>", "expected a blank"},
      {"<strings><string id=\"a\" value=b /></strings>", "expected a quoted attribute value"},
      {"<strings><string id=\"a\" id=\"c\" value=\"b\" /></strings>", "repeated attribute 'id'"},
      {"<strings><string id=\"a\" value=\"1\"/><string id=\"a\" value=\"2\"/></strings>",
       "repeated id 'a' at byte 35"},
      {"<strings>hello</strings>", "unexpected text"},
      {"<strings><entry id=\"a\" value=\"b\"/></strings>", "unexpected element"},
      {"<strings><stringx id=\"a\" value=\"b\"/></strings>", "unexpected element"},
      {"<strings></strings>x", "unexpected content after the root element"},
      {"<strings/><strings/>", "unexpected content after the root element"},
      {"<strings><!-- open </strings>", "unterminated comment"},
  };
  for (const auto& c : cases) {
    const std::string message = rejection(c.text);
    EXPECT_NE(message.find(c.reason), std::string::npos)
        << "input: " << c.text << "\nmessage: " << message;
  }
}

TEST(string_table, EveryPrefixOfACommittedTableIsRejected) {
  const std::string text = committed("strings_ja.xml");
  ASSERT_FALSE(text.empty());
  for (std::size_t length = 0; length < text.size(); ++length) {
    EXPECT_THROW(parse(text.substr(0, length)), string_table_error) << "length " << length;
  }
}
