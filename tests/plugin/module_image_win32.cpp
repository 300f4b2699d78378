// What the built DLL carries: its export directory, string tables, atlas and
// version record, read back as the host and Windows read them.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "host/plugin_entry_points.hpp"
#include "tests/support/module_path.hpp"

namespace {

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
}

// The export directory parsed from the file itself, not from the loader.
struct export_directory {
  std::string dll_name;
  std::vector<std::string> names;
};

export_directory read_exports(const std::vector<unsigned char>& image) {
  auto u16 = [&](std::size_t at) { return std::uint32_t(image.at(at) | image.at(at + 1) << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  const std::size_t pe = u32(0x3C);
  EXPECT_EQ(u32(pe), 0x00004550u);  // "PE\0\0"
  EXPECT_EQ(u16(pe + 4), 0x014Cu);  // i386
  const std::size_t optional = pe + 24;
  EXPECT_EQ(u16(optional), 0x010Bu);  // PE32
  const std::uint32_t export_rva = u32(optional + 96);
  const std::size_t sections = optional + u16(pe + 20);
  const std::size_t section_count = u16(pe + 6);
  auto file_offset = [&](std::uint32_t rva) -> std::size_t {
    for (std::size_t i = 0; i < section_count; ++i) {
      const std::size_t s = sections + i * 40;
      const std::uint32_t va = u32(s + 12), size = u32(s + 8), raw = u32(s + 20);
      if (rva >= va && rva < va + size)
        return raw + (rva - va);
    }
    ADD_FAILURE() << "rva outside every section";
    return 0;
  };
  auto text_at = [&](std::uint32_t rva) {
    const std::size_t at = file_offset(rva);
    return std::string(reinterpret_cast<const char*>(&image.at(at)));
  };
  export_directory directory;
  const std::size_t dir = file_offset(export_rva);
  directory.dll_name = text_at(u32(dir + 12));
  const std::uint32_t count = u32(dir + 24);
  const std::size_t names = file_offset(u32(dir + 32));
  for (std::uint32_t i = 0; i < count; ++i) directory.names.push_back(text_at(u32(names + 4 * i)));
  EXPECT_EQ(u32(dir + 20), count);  // no export by ordinal only
  return directory;
}

TEST(module_image, exports_exactly_the_eight_entry_points_under_its_name) {
  const export_directory directory = read_exports(read_bytes(VELLOQ_MODULE_PATH));
  EXPECT_EQ(directory.dll_name, "Velloq.dll");
  const std::set<std::string> names(directory.names.begin(), directory.names.end());
  EXPECT_EQ(directory.names.size(), 8u);
  EXPECT_EQ(names, (std::set<std::string>(std::begin(decorated_entry_point_names),
                                          std::end(decorated_entry_point_names))));
}

std::vector<unsigned char> resource(HMODULE module, const char* type, const char* name,
                                    WORD language) {
  HRSRC found = FindResourceExA(module, type, name, language);
  if (found == nullptr)
    return {};
  const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
  return std::vector<unsigned char>(data, data + SizeofResource(module, found));
}

TEST(module_image, carries_the_string_tables_and_the_atlas_in_both_languages) {
  HMODULE module = LoadLibraryA(module_path().c_str());
  ASSERT_NE(module, nullptr);
  const std::string resources = std::string(VELLOQ_SOURCE_DIR) + "/resources/";
  EXPECT_EQ(resource(module, "QZUL", "TEXT", 1033), read_bytes(resources + "strings_en.xml"));
  EXPECT_EQ(resource(module, "QZUL", "TEXT", 1041), read_bytes(resources + "strings_ja.xml"));
  const std::vector<unsigned char> atlas = read_bytes(resources + "ascii.tga");
  EXPECT_EQ(atlas.size(), 36908u);
  EXPECT_EQ(resource(module, "TARGA", "ASCII", 1033), atlas);
  EXPECT_EQ(resource(module, "TARGA", "ascii", 1041), atlas);
  FreeLibrary(module);
}

std::string version_value(const std::vector<char>& block, const char* key) {
  char* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return "<missing>";
  }
  return std::string(value);
}

TEST(module_image, the_version_record_reads_back_through_windows) {
  const std::string path = module_path();
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);  // 1.2
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(version_value(block, "FileDescription"), "Quillmark");
  EXPECT_EQ(version_value(block, "InternalName"), "Velloq");
  EXPECT_EQ(version_value(block, "FileVersion"), "1, 0, 0, 0");
  EXPECT_EQ(version_value(block, "ProductVersion"), "1, 0, 0, 0");
  EXPECT_EQ(version_value(block, "CompanyName"), "Velloq");
  EXPECT_EQ(version_value(block, "ProductName"), "Quillmark");
}

}  // namespace
