// The native module shows the host exactly what the Windows one does: the
// eight entry points, plus the resource table that stands in for a resource
// section. Nothing of the C++ runtime or Boost may leak out, where it could
// bind to another module's copy of the same template.

#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/plugin_entry_points.hpp"

namespace {

// Defined symbols of the dynamic symbol table that another module can bind
// to, with their ELF types.
std::map<std::string, int> exported_symbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::map<std::string, int> symbols;
  Elf64_Ehdr header;
  if (image.size() < sizeof header)
    return symbols;
  std::memcpy(&header, image.data(), sizeof header);
  EXPECT_EQ(std::memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
  EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
  auto section = [&](std::size_t index) {
    Elf64_Shdr s;
    const std::size_t at = header.e_shoff + index * header.e_shentsize;
    if (at + sizeof s > image.size())
      throw std::runtime_error("section header outside the file");
    std::memcpy(&s, image.data() + at, sizeof s);
    return s;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr table = section(i);
    if (table.sh_type != SHT_DYNSYM)
      continue;
    const Elf64_Shdr names = section(table.sh_link);
    for (std::size_t at = table.sh_offset + sizeof(Elf64_Sym);
         at + sizeof(Elf64_Sym) <= table.sh_offset + table.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, image.data() + at, sizeof symbol);
      const int binding = ELF64_ST_BIND(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || binding == STB_LOCAL ||
          ELF64_ST_VISIBILITY(symbol.st_other) != STV_DEFAULT)
        continue;
      symbols[std::string(image.data() + names.sh_offset + symbol.st_name)] =
          ELF64_ST_TYPE(symbol.st_info);
    }
  }
  return symbols;
}

TEST(native_module_surface, exports_only_the_entry_points_and_the_resource_table) {
  const std::map<std::string, int> symbols = exported_symbols(VELLOQ_MODULE_PATH);
  std::map<std::string, int> expected;
  for (const char* name : plain_entry_point_names) expected[name] = STT_FUNC;
  expected["velloq_module_resources"] = STT_OBJECT;
  expected["velloq_module_resource_count"] = STT_OBJECT;
  EXPECT_EQ(symbols, expected);
}

}  // namespace
