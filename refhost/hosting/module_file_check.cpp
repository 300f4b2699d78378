#include "refhost/hosting/module_file_check.hpp"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/hosting/plugin_module.hpp"

namespace {

std::uint64_t read_le(const unsigned char* data, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = value << 8 | data[i];
  return value;
}

// Whether [offset, offset + length) lies inside `size` bytes, without
// overflowing on hostile values.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

std::string cut_short(const std::string& what, std::uint64_t offset, std::uint64_t length,
                      std::uint64_t size) {
  return "cut short: " + what + " lies at bytes " + std::to_string(offset) + " to " +
         std::to_string(offset + length) + " of " + std::to_string(size);
}

// Field offsets of the ELF header and of program and section headers, for
// 32-bit and 64-bit files.
struct elf_shape {
  std::size_t header_size, word;
  std::size_t phoff, shoff, phentsize, phnum, shentsize, shnum;
  std::size_t ph_size, ph_offset, ph_filesz;
  std::size_t sh_size, sh_type, sh_offset, sh_bytes;
};
constexpr elf_shape elf32{52, 4, 28, 32, 42, 44, 46, 48, 32, 4, 16, 40, 4, 16, 20};
constexpr elf_shape elf64{64, 8, 32, 40, 54, 56, 58, 60, 56, 8, 32, 64, 4, 24, 32};

constexpr std::uint32_t section_without_bytes = 8;  // SHT_NOBITS: .bss and the like

// A table of program or section headers: where it lies, and where in each
// entry the range of the file that entry names is.
struct elf_table {
  const char* table_name;  // "program headers"
  const char* entry_name;  // "segment"
  std::uint64_t offset, count, entry_size, expected_entry_size;
  std::size_t range_offset, range_length;
  std::size_t type_field;  // 0: every entry holds bytes; else where its type is
};

std::string table_problem(const unsigned char* data, std::size_t size, std::size_t word,
                          const elf_table& table) {
  if (table.entry_size != table.expected_entry_size)
    return std::string(table.table_name) + " of " + std::to_string(table.entry_size) + " bytes";
  if (!inside(table.offset, table.count * table.entry_size, size))
    return cut_short(std::string("its ") + table.table_name, table.offset,
                     table.count * table.entry_size, size);
  for (std::uint64_t i = 0; i < table.count; ++i) {
    const unsigned char* entry = data + table.offset + i * table.entry_size;
    if (table.type_field != 0 && read_le(entry + table.type_field, 4) == section_without_bytes)
      continue;
    const std::uint64_t offset = read_le(entry + table.range_offset, word);
    const std::uint64_t length = read_le(entry + table.range_length, word);
    if (!inside(offset, length, size))
      return cut_short(table.entry_name + (" " + std::to_string(i)), offset, length, size);
  }
  return {};
}

}  // namespace

std::string elf_module_problem(const unsigned char* data, std::size_t size) {
  static const unsigned char elf_magic[4] = {0x7F, 'E', 'L', 'F'};
  if (size < 16 || std::memcmp(data, elf_magic, 4) != 0)
    return "not an ELF shared object";
  if (data[4] != 1 && data[4] != 2)
    return "unknown ELF class " + std::to_string(data[4]);
  if (data[5] != 1)
    return "not a little-endian ELF file";
  const elf_shape& shape = data[4] == 1 ? elf32 : elf64;
  if (size < shape.header_size)
    return "cut short inside its ELF header (" + std::to_string(size) + " bytes)";
  const auto field = [&](std::size_t at, std::size_t bytes) { return read_le(data + at, bytes); };
  const elf_table segments{"program headers",
                           "segment",
                           field(shape.phoff, shape.word),
                           field(shape.phnum, 2),
                           field(shape.phentsize, 2),
                           shape.ph_size,
                           shape.ph_offset,
                           shape.ph_filesz,
                           0};
  const elf_table sections{"section headers",
                           "section",
                           field(shape.shoff, shape.word),
                           field(shape.shnum, 2),
                           field(shape.shentsize, 2),
                           shape.sh_size,
                           shape.sh_offset,
                           shape.sh_bytes,
                           shape.sh_type};
  if (segments.count == 0)
    return "no program headers: nothing to load";
  std::string problem = table_problem(data, size, shape.word, segments);
  if (problem.empty() && sections.count != 0)
    problem = table_problem(data, size, shape.word, sections);
  return problem;
}

std::string pe_module_problem(const unsigned char* data, std::size_t size) {
  if (size < 64 || data[0] != 'M' || data[1] != 'Z')
    return "not a Windows module (no MZ header)";
  const std::uint64_t pe = read_le(data + 0x3C, 4);
  // Signature, then the 20-byte file header.
  if (!inside(pe, 24, size))
    return cut_short("its PE header", pe, 24, size);
  if (std::memcmp(data + pe, "PE\0\0", 4) != 0)
    return "not a PE image (no PE signature)";
  const std::uint64_t section_count = read_le(data + pe + 6, 2);
  const std::uint64_t optional_size = read_le(data + pe + 20, 2);
  const std::uint64_t optional = pe + 24;
  if (!inside(optional, optional_size, size) || optional_size < 64) {
    return cut_short("its optional header", optional, optional_size, size);
  }
  const std::uint64_t headers_size = read_le(data + optional + 60, 4);  // SizeOfHeaders
  if (headers_size > size) {
    return "cut short: its headers take " + std::to_string(headers_size) + " bytes of " +
           std::to_string(size);
  }
  const std::uint64_t sections = optional + optional_size;
  if (!inside(sections, section_count * 40, size)) {
    return cut_short("its section table", sections, section_count * 40, size);
  }
  // The symbol table and the string table after it, which the file
  // header names (debug builds carry them).
  const std::uint64_t symbols = read_le(data + pe + 12, 4);
  if (symbols != 0) {
    const std::uint64_t symbols_size = read_le(data + pe + 16, 4) * 18;
    if (!inside(symbols, symbols_size + 4, size))
      return cut_short("its symbol table", symbols, symbols_size + 4, size);
    const std::uint64_t strings = symbols + symbols_size;
    const std::uint64_t strings_size = read_le(data + strings, 4);
    if (!inside(strings, strings_size, size))
      return cut_short("its string table", strings, strings_size, size);
  }
  for (std::uint64_t i = 0; i < section_count; ++i) {
    const unsigned char* section = data + sections + i * 40;
    const std::uint64_t raw_size = read_le(section + 16, 4);
    const std::uint64_t raw_offset = read_le(section + 20, 4);
    if (raw_size != 0 && !inside(raw_offset, raw_size, size)) {
      return cut_short("section " + std::to_string(i), raw_offset, raw_size, size);
    }
  }
  return {};
}

std::string checked_module_path(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    throw module_error("cannot load plug-in module " + path + ": " +
                       (fs::exists(path, error) ? "not a regular file" : "no such file"));
  }
  std::vector<unsigned char> bytes;
  try {
    bytes = read_file_bytes(path, max_module_file_bytes);
  } catch (const file_error& failure) {
    throw module_error("cannot load plug-in module: " + std::string(failure.what()));
  }
#if defined(_WIN32)
  const std::string problem = pe_module_problem(bytes.data(), bytes.size());
#else
  const std::string problem = elf_module_problem(bytes.data(), bytes.size());
#endif
  if (!problem.empty())
    throw module_error("cannot load plug-in module " + path + ": " + problem);
  const fs::path absolute = fs::absolute(path, error);
  return error ? path : absolute.string();
}
