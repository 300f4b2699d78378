// The archives a release hands out, unpacked as their users would unpack
// them and every file checked: the artist's, whose DLL is the very file the
// tests ran, and the Windows TD's tools, velloq-host.exe.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_windows/process/pe_file.hpp"
#include "host/plugin_entry_points.hpp"
#include "tests/shipping/shipping_paths.hpp"

namespace fs = std::filesystem;

namespace {

const std::string folder_name = std::string("Velloq-") + VELLOQ_VERSION + "-win32";

// What `cmake -E sha256sum` says of a file: an independent implementation.
std::string sha256_of(const fs::path& path) {
  const std::string command =
      std::string("'") + VELLOQ_CMAKE_COMMAND + "' -E sha256sum '" + path.string() + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return "<no cmake>";
  char line[512] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return got ? std::string(line).substr(0, 64) : "<no output>";
}

// key -> value of every String in the version resource's StringFileInfo.
// Each block: length, value length, type, UTF-16 key, padding to four
// bytes, the value, padding, then child blocks up to its length.
void read_version_strings(const std::vector<unsigned char>& data, std::size_t at, std::size_t end,
                          std::map<std::string, std::string>& strings) {
  auto u16 = [&](std::size_t offset) { return data.at(offset) | data.at(offset + 1) << 8; };
  auto utf16 = [&](std::size_t& offset) {
    std::string text;
    for (; u16(offset) != 0; offset += 2) text += static_cast<char>(u16(offset) & 0xFF);
    offset += 2;
    return text;
  };
  while (at + 6 <= end) {
    const std::size_t length = u16(at), value_length = u16(at + 2), type = u16(at + 4);
    if (length == 0)
      break;
    std::size_t cursor = at + 6;
    const std::string key = utf16(cursor);
    cursor = (cursor + 3) & ~std::size_t{3};
    if (type == 1 && value_length > 0) {
      std::size_t value_at = cursor;
      strings[key] = utf16(value_at);
      cursor += 2 * value_length;
    } else {
      cursor += value_length;
    }
    cursor = (cursor + 3) & ~std::size_t{3};
    read_version_strings(data, cursor, at + length, strings);
    at = (at + length + 3) & ~std::size_t{3};
  }
}

// An archive of the win32 build unpacked into a folder of its own, for as
// long as it lives.
class unpacked_archive {
 public:
  explicit unpacked_archive(const std::string& folder) : folder_(folder) {
    char pattern[] = "/tmp/velloq-archive-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
      return;
    root_ = pattern;
    const std::string command = "cd '" + root_.string() + "' && '" + VELLOQ_CMAKE_COMMAND +
                                "' -E tar xf '" + archive() + "'";
    unpacked_ = fs::exists(archive()) && std::system(command.c_str()) == 0;
  }
  ~unpacked_archive() {
    if (!root_.empty())
      fs::remove_all(root_);
  }
  unpacked_archive(const unpacked_archive&) = delete;
  unpacked_archive& operator=(const unpacked_archive&) = delete;

  std::string archive() const { return win32_build_path(folder_ + ".zip"); }
  bool unpacked() const { return unpacked_; }
  const fs::path& root() const { return root_; }
  fs::path in_archive(const std::string& name) const { return root_ / folder_ / name; }

 private:
  std::string folder_;
  fs::path root_;
  bool unpacked_ = false;
};

class release_archive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { unpacked = new unpacked_archive(folder_name); }
  static void TearDownTestSuite() {
    delete unpacked;
    unpacked = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(unpacked->unpacked())
        << unpacked->archive()
        << " is missing: `cmake --build --preset win32 --target release_archive` makes it";
  }

  static fs::path in_archive(const std::string& name) { return unpacked->in_archive(name); }

  static unpacked_archive* unpacked;
};

unpacked_archive* release_archive::unpacked = nullptr;

// What every archive of a release holds to: its files in one folder, in a
// fixed order, with their sums; texts for Windows users.
struct archive_kind {
  std::string folder;
  std::vector<std::string> files;  // in the archive's order, before SHA256SUMS
  std::vector<std::string> readme_says;
};

const archive_kind archive_kinds[] = {
    {folder_name,
     {"Velloq.dll", "Velloq.dll.debug", "README.txt", "LICENSE.txt"},
     {std::string("Velloq ") + VELLOQ_VERSION, "Windows XP", "Quillmark", "Removing",
      "Pentium Pro"}},
    {std::string("Velloq-tools-") + VELLOQ_VERSION + "-win32",
     {"velloq-host.exe", "README.txt", "LICENSE.txt"},
     {std::string("velloq-host ") + VELLOQ_VERSION, folder_name, "Velloq.dll", "--dry-run",
      "--json", "--facts", "1-100x5,120,200-210", ".bat"}},
};

class shipped_archive : public ::testing::TestWithParam<archive_kind> {
 protected:
  void SetUp() override {
    unpacked = std::make_unique<unpacked_archive>(GetParam().folder);
    ASSERT_TRUE(unpacked->unpacked())
        << unpacked->archive() << " is missing: `cmake --build --preset win32` makes it";
  }
  fs::path in_archive(const std::string& name) const { return unpacked->in_archive(name); }

  std::unique_ptr<unpacked_archive> unpacked;
};

INSTANTIATE_TEST_SUITE_P(releases, shipped_archive, ::testing::ValuesIn(archive_kinds),
                         [](const ::testing::TestParamInfo<archive_kind>& kind) {
                           return std::string(kind.index == 0 ? "plugin" : "tools");
                         });

TEST_P(shipped_archive, holds_exactly_its_files_in_one_folder) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(unpacked->root()))
    entries.insert(fs::relative(entry.path(), unpacked->root()).generic_string());
  std::set<std::string> expected{GetParam().folder, GetParam().folder + "/SHA256SUMS"};
  for (const std::string& file : GetParam().files) expected.insert(GetParam().folder + "/" + file);
  EXPECT_EQ(entries, expected);
}

TEST_F(release_archive, its_dll_is_the_one_the_tests_ran) {
  const std::vector<unsigned char> shipped = read_bytes(in_archive("Velloq.dll"));
  ASSERT_FALSE(shipped.empty());
  EXPECT_TRUE(shipped == read_bytes(shipped_dll_path()))
      << "the archive's Velloq.dll differs from " << shipped_dll_path();
}

TEST_F(release_archive, its_dll_exports_the_eight_entry_points_and_carries_its_resources) {
  const pe_file dll = pe_file::read(in_archive("Velloq.dll").string());
  EXPECT_EQ(dll.export_module_name(), "Velloq.dll");
  const std::vector<std::string> names = dll.export_names();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            std::set<std::string>(std::begin(decorated_entry_point_names),
                                  std::end(decorated_entry_point_names)));
  EXPECT_EQ(names.size(), 8u);

  const std::vector<unsigned char> english = read_bytes(source_path("resources/strings_en.xml"));
  const std::vector<unsigned char> japanese = read_bytes(source_path("resources/strings_ja.xml"));
  const std::vector<unsigned char> atlas = read_bytes(source_path("resources/ascii.tga"));
  EXPECT_EQ(dll.resource("QZUL", "TEXT", 1033), english);
  EXPECT_EQ(dll.resource("QZUL", "TEXT", 1041), japanese);
  EXPECT_EQ(dll.resource("TARGA", "ASCII", 1033), atlas);
  EXPECT_EQ(dll.resource("TARGA", "ascii", 1041), atlas);
  EXPECT_FALSE(dll.resource("TARGA", "ASCII", 1031).has_value());
}

TEST_F(release_archive, its_dll_carries_the_version_record) {
  const pe_file dll = pe_file::read(in_archive("Velloq.dll").string());
  const auto record = dll.resource("#16", "#1", 1033);  // RT_VERSION
  ASSERT_TRUE(record.has_value());
  // VS_FIXEDFILEINFO follows the root block's key "VS_VERSION_INFO".
  const std::vector<unsigned char>& data = *record;
  const unsigned char signature[4] = {0xBD, 0x04, 0xEF, 0xFE};
  const auto fixed = std::search(data.begin(), data.end(), signature, signature + 4);
  ASSERT_NE(fixed, data.end());
  auto word = [&](std::ptrdiff_t offset) {
    const auto at = fixed + offset;
    return static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16 | at[3] << 24);
  };
  EXPECT_EQ(word(8), 0x00010002u);   // file version 1.2
  EXPECT_EQ(word(12), 0x00000001u);  // .0.1
  EXPECT_EQ(word(16), 0x00010002u);  // product version
  EXPECT_EQ(word(20), 0x00000001u);
  std::map<std::string, std::string> strings;
  read_version_strings(data, 0, data.size(), strings);
  EXPECT_EQ(strings["FileDescription"], "Quillmark");
  EXPECT_EQ(strings["InternalName"], "Velloq");
  EXPECT_EQ(strings["FileVersion"], "1, 0, 0, 0");
  EXPECT_EQ(strings["ProductVersion"], "1, 0, 0, 0");
  EXPECT_EQ(strings["OriginalFilename"], "Velloq.dll");
}

TEST_F(release_archive, its_dll_is_stripped_and_linked_to_its_debug_information) {
  const pe_file dll = pe_file::read(in_archive("Velloq.dll").string());
  for (const pe_section& section : dll.sections())
    EXPECT_NE(section.name.rfind(".debug", 0), 0u) << section.name << " left in the shipped DLL";
  const auto link = dll.debug_link();
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->first, "Velloq.dll.debug");
  const std::vector<unsigned char> debug = read_bytes(in_archive("Velloq.dll.debug"));
  ASSERT_FALSE(debug.empty());
  EXPECT_EQ(link->second, crc32(0, debug.data(), static_cast<uInt>(debug.size())))
      << "the debug link's checksum does not match Velloq.dll.debug";
  bool has_debug_info = false;
  const pe_file debug_file(debug);
  for (const pe_section& section : debug_file.sections())
    has_debug_info = has_debug_info || section.name == ".debug_info";
  EXPECT_TRUE(has_debug_info);
}

// What differs between machines stays out, so that a rebuild anywhere gives
// the same archive: the entries come in one order, each with the same time
// and mode, and with no extra field (owner, further times).
TEST_P(shipped_archive, its_bytes_depend_on_the_files_alone) {
  const std::vector<unsigned char> zip = read_bytes(unpacked->archive());
  ASSERT_GT(zip.size(), 22u);
  auto u16 = [&](std::size_t at) { return std::uint32_t{zip.at(at)} | zip.at(at + 1) << 8; };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  const std::size_t directory_end = zip.size() - 22;
  ASSERT_EQ(u32(directory_end), 0x06054B50u);
  std::vector<std::string> names;
  for (std::size_t i = 0, at = u32(directory_end + 16); i < u16(directory_end + 10); ++i) {
    ASSERT_EQ(u32(at), 0x02014B50u);
    names.emplace_back(zip.begin() + at + 46, zip.begin() + at + 46 + u16(at + 28));
    const std::size_t local = u32(at + 42);
    EXPECT_EQ(u16(at + 30) + u16(local + 28), 0u) << names.back() << " has extra fields";
    EXPECT_EQ(u32(at + 12), 0x00210000u) << names.back() << " is not dated 1980-01-01 00:00";
    EXPECT_EQ(u32(at + 38) >> 16, 0100644u) << names.back();
    at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
  }
  std::vector<std::string> expected;
  for (const std::string& file : GetParam().files)
    expected.push_back(GetParam().folder + "/" + file);
  expected.push_back(GetParam().folder + "/SHA256SUMS");
  EXPECT_EQ(names, expected);
}

TEST_P(shipped_archive, the_checksums_list_every_other_file_correctly) {
  std::istringstream sums(read_text(in_archive("SHA256SUMS")));
  std::vector<std::string> listed;
  for (std::string sum, name; sums >> sum >> name;) {
    listed.push_back(name);
    EXPECT_EQ(sum, sha256_of(in_archive(name))) << name;
  }
  EXPECT_EQ(listed, GetParam().files);
}

TEST_P(shipped_archive, the_texts_are_for_windows_users) {
  for (const char* name : {"README.txt", "LICENSE.txt"}) {
    const std::string text = read_text(in_archive(name));
    ASSERT_FALSE(text.empty()) << name;
    std::size_t lone_line_feeds = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
      lone_line_feeds += text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
    EXPECT_EQ(lone_line_feeds, 0u) << name << " needs CRLF line ends for Notepad";
  }
  const std::string readme = read_text(in_archive("README.txt"));
  for (const std::string& needed : GetParam().readme_says)
    EXPECT_NE(readme.find(needed), std::string::npos) << needed;
}

// The tools' program is the win32 build's velloq-host.exe, which the
// Windows tests ran, without its debug information: a 32-bit console
// program whose every other section is the one built.
TEST(tools_archive, holds_the_tested_velloq_host_stripped) {
  const unpacked_archive tools(std::string("Velloq-tools-") + VELLOQ_VERSION + "-win32");
  ASSERT_TRUE(tools.unpacked()) << tools.archive();
  const pe_file shipped = pe_file::read(tools.in_archive("velloq-host.exe").string());
  const pe_file built = pe_file::read(win32_build_path("bin/velloq-host.exe"));
  EXPECT_EQ(shipped.headers().machine, 0x014Cu);  // i386
  EXPECT_EQ(shipped.headers().subsystem, 3u);     // console
  const auto section_bytes = [](const pe_file& file, const pe_section& section) {
    const auto start = file.bytes().begin() + section.raw_offset;
    return std::vector<unsigned char>(start, start + section.raw_size);
  };
  std::size_t compared = 0;
  for (const pe_section& section : shipped.sections()) {
    EXPECT_NE(section.name.rfind(".debug", 0), 0u) << section.name << " left in velloq-host.exe";
    for (const pe_section& original : built.sections()) {
      if (original.name == section.name) {
        EXPECT_EQ(section_bytes(shipped, section), section_bytes(built, original)) << section.name;
        ++compared;
      }
    }
  }
  EXPECT_GE(compared, 4u);
}

}  // namespace
