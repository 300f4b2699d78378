#include "emulated_windows/process/pe_file.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

pe_file::pe_file(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {
  if (u16(0) != 0x5A4D)
    throw pe_format_error("no MZ signature");
  const std::size_t pe = u32(0x3C);
  if (u32(pe) != 0x00004550)
    throw pe_format_error("no PE signature");
  headers_.machine = u16(pe + 4);
  const std::size_t section_count = u16(pe + 6);
  headers_.time_date_stamp = u32(pe + 8);
  headers_.pointer_to_symbol_table = u32(pe + 12);
  const std::size_t optional_size = u16(pe + 20);
  headers_.characteristics = u16(pe + 22);
  const std::size_t optional = pe + 24;
  headers_.optional_magic = u16(optional);
  if (headers_.optional_magic != 0x010B)
    throw pe_format_error("not a PE32 image");
  headers_.entry_point = u32(optional + 16);
  headers_.image_base = u32(optional + 28);
  headers_.section_alignment = u32(optional + 32);
  headers_.file_alignment = u32(optional + 36);
  headers_.os_version[0] = u16(optional + 40);
  headers_.os_version[1] = u16(optional + 42);
  headers_.subsystem_version[0] = u16(optional + 48);
  headers_.subsystem_version[1] = u16(optional + 50);
  headers_.size_of_image = u32(optional + 56);
  headers_.size_of_headers = u32(optional + 60);
  headers_.subsystem = u16(optional + 68);
  headers_.dll_characteristics = u16(optional + 70);
  const std::uint32_t directory_count = std::min<std::uint32_t>(u32(optional + 92), 16);
  if (96 + 8 * directory_count > optional_size)
    throw pe_format_error("data directories beyond the optional header");
  for (std::uint32_t i = 0; i < directory_count; ++i) {
    headers_.directory_rva[i] = u32(optional + 96 + 8 * i);
    headers_.directory_size[i] = u32(optional + 100 + 8 * i);
  }
  const std::size_t table = optional + optional_size;
  // Names longer than eight characters stand in the COFF string table, which
  // follows the symbols; the header holds "/" and the offset in decimal.
  const std::size_t string_table =
      headers_.pointer_to_symbol_table + 18 * std::size_t{u32(pe + 16)};
  for (std::size_t i = 0; i < section_count; ++i) {
    const std::size_t at = table + 40 * i;
    pe_section section;
    u32(at + 36);  // the whole header lies inside the file
    const char* name = reinterpret_cast<const char*>(&bytes_[at]);
    section.name.assign(name, std::find(name, name + 8, '\0'));
    if (section.name.size() > 1 && section.name[0] == '/' &&
        headers_.pointer_to_symbol_table != 0) {
      const std::size_t at_name = string_table + std::stoul(section.name.substr(1));
      u16(at_name);
      const auto end =
          std::find(bytes_.begin() + static_cast<std::ptrdiff_t>(at_name), bytes_.end(), 0);
      section.name.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_name), end);
    }
    section.virtual_size = u32(at + 8);
    section.virtual_address = u32(at + 12);
    section.raw_size = u32(at + 16);
    section.raw_offset = u32(at + 20);
    section.characteristics = u32(at + 36);
    if (section.raw_size != 0 && (section.raw_offset > bytes_.size() ||
                                  section.raw_size > bytes_.size() - section.raw_offset))
      throw pe_format_error("section " + section.name + " runs past the end of the file");
    sections_.push_back(section);
  }
}

pe_file pe_file::read(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file)
    throw pe_format_error("cannot open " + path);
  // In one read: a byte-wise copy of a whole DLL is slow in sanitizer builds.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(file.tellg()));
  file.seekg(0);
  if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw pe_format_error("cannot read " + path);
  return pe_file(std::move(bytes));
}

std::uint16_t pe_file::u16(std::size_t offset) const {
  if (offset > bytes_.size() || bytes_.size() - offset < 2)
    throw pe_format_error("read past the end of the file at " + std::to_string(offset));
  return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

std::uint32_t pe_file::u32(std::size_t offset) const {
  return u16(offset) | static_cast<std::uint32_t>(u16(offset + 2)) << 16;
}

std::uint32_t pe_file::directory_rva(pe_directory d) const {
  return headers_.directory_rva[static_cast<int>(d)];
}

std::uint32_t pe_file::directory_size(pe_directory d) const {
  return headers_.directory_size[static_cast<int>(d)];
}

std::size_t pe_file::offset_of(std::uint32_t rva) const {
  for (const pe_section& section : sections_) {
    if (rva >= section.virtual_address && rva - section.virtual_address < section.raw_size)
      return section.raw_offset + (rva - section.virtual_address);
  }
  throw pe_format_error("address " + std::to_string(rva) + " lies in no section's file data");
}

std::uint16_t pe_file::u16_at(std::uint32_t rva) const {
  return u16(offset_of(rva));
}

std::uint32_t pe_file::u32_at(std::uint32_t rva) const {
  return u32(offset_of(rva));
}

std::string pe_file::text_at(std::uint32_t rva) const {
  const std::size_t start = offset_of(rva);
  const auto end = std::find(bytes_.begin() + static_cast<std::ptrdiff_t>(start), bytes_.end(), 0);
  if (end == bytes_.end())
    throw pe_format_error("unterminated text at " + std::to_string(rva));
  return std::string(bytes_.begin() + static_cast<std::ptrdiff_t>(start), end);
}

std::string pe_file::export_module_name() const {
  const std::uint32_t directory = directory_rva(pe_directory::exports);
  if (directory == 0)
    return {};
  return text_at(u32_at(directory + 12));
}

std::vector<std::string> pe_file::export_names() const {
  std::vector<std::string> names;
  const std::uint32_t directory = directory_rva(pe_directory::exports);
  if (directory == 0)
    return names;
  const std::uint32_t count = u32_at(directory + 24);
  const std::uint32_t table = u32_at(directory + 32);
  for (std::uint32_t i = 0; i < count; ++i) names.push_back(text_at(u32_at(table + 4 * i)));
  return names;
}

std::optional<std::uint32_t> pe_file::export_rva(const std::string& name) const {
  const std::uint32_t directory = directory_rva(pe_directory::exports);
  if (directory == 0)
    return std::nullopt;
  const std::uint32_t count = u32_at(directory + 24);
  const std::uint32_t functions = u32_at(directory + 28);
  const std::uint32_t names = u32_at(directory + 32);
  const std::uint32_t ordinals = u32_at(directory + 36);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (text_at(u32_at(names + 4 * i)) == name)
      return u32_at(functions + 4 * u16_at(ordinals + 2 * i));
  }
  return std::nullopt;
}

std::vector<pe_import_module> pe_file::imports() const {
  std::vector<pe_import_module> modules;
  std::uint32_t descriptor = directory_rva(pe_directory::imports);
  if (descriptor == 0)
    return modules;
  for (;; descriptor += 20) {
    const std::uint32_t lookup = u32_at(descriptor);
    const std::uint32_t name = u32_at(descriptor + 12);
    const std::uint32_t addresses = u32_at(descriptor + 16);
    if (name == 0 && lookup == 0 && addresses == 0)
      break;
    pe_import_module module;
    module.dll = text_at(name);
    // The lookup table names what the address table will hold once bound.
    for (std::uint32_t i = 0;; ++i) {
      const std::uint32_t value = u32_at((lookup != 0 ? lookup : addresses) + 4 * i);
      if (value == 0)
        break;
      module.address_slots.push_back(addresses + 4 * i);
      if ((value & 0x80000000u) != 0)
        module.functions.push_back("#" + std::to_string(value & 0xFFFF));
      else
        module.functions.push_back(text_at(value + 2));
    }
    modules.push_back(module);
  }
  return modules;
}

std::vector<std::uint32_t> pe_file::base_relocations() const {
  constexpr std::uint16_t absolute = 0, high_low = 3;
  std::vector<std::uint32_t> words;
  const std::uint32_t start = directory_rva(pe_directory::base_relocations);
  const std::uint32_t end = start + directory_size(pe_directory::base_relocations);
  // Blocks of one page each: its RVA, the block size, then 16-bit entries.
  for (std::uint32_t block = start; start != 0 && block < end;) {
    const std::uint32_t page = u32_at(block), size = u32_at(block + 4);
    if (size < 8 || size > end - block)
      throw pe_format_error("malformed relocation block at " + std::to_string(block));
    for (std::uint32_t at = block + 8; at + 2 <= block + size; at += 2) {
      const std::uint16_t entry = u16_at(at);
      if (entry >> 12 == high_low)
        words.push_back(page + (entry & 0x0FFFu));
      else if (entry >> 12 != absolute)
        throw pe_format_error("relocation kind " + std::to_string(entry >> 12) +
                              " in a 32-bit image");
    }
    block += size;
  }
  return words;
}

std::optional<pe_tls_directory> pe_file::tls() const {
  const std::uint32_t directory = directory_rva(pe_directory::tls);
  if (directory == 0)
    return std::nullopt;
  pe_tls_directory tls;
  tls.raw_data_start = u32_at(directory);
  tls.raw_data_end = u32_at(directory + 4);
  tls.index_address = u32_at(directory + 8);
  tls.callbacks_address = u32_at(directory + 12);
  tls.zero_fill = u32_at(directory + 16);
  if (tls.raw_data_end < tls.raw_data_start)
    throw pe_format_error("TLS template ends before it starts");
  return tls;
}

std::optional<std::vector<unsigned char>> pe_file::resource(const std::string& type,
                                                            const std::string& name,
                                                            std::uint16_t language) const {
  const std::uint32_t root = directory_rva(pe_directory::resources);
  if (root == 0)
    return std::nullopt;
  // An entry's name: a UTF-16 string (only ASCII here) or a numeric id.
  auto entry_name = [&](std::uint32_t value) -> std::string {
    if ((value & 0x80000000u) == 0)
      return "#" + std::to_string(value);
    const std::uint32_t at = root + (value & 0x7FFFFFFFu);
    std::string text;
    for (std::uint32_t i = 0, length = u16_at(at); i < length; ++i)
      text += static_cast<char>(u16_at(at + 2 + 2 * i) & 0xFF);
    return text;
  };
  // The subdirectory or data entry under `wanted` in the directory at `directory`.
  auto find = [&](std::uint32_t directory,
                  const std::string& wanted) -> std::optional<std::uint32_t> {
    const std::uint32_t count = u16_at(directory + 12) + u16_at(directory + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t entry = directory + 16 + 8 * i;
      if (upper(entry_name(u32_at(entry))) == upper(wanted))
        return u32_at(entry + 4);
    }
    return std::nullopt;
  };
  const auto types = find(root, type);
  if (!types || (*types & 0x80000000u) == 0)
    return std::nullopt;
  const auto names = find(root + (*types & 0x7FFFFFFFu), name);
  if (!names || (*names & 0x80000000u) == 0)
    return std::nullopt;
  const auto data = find(root + (*names & 0x7FFFFFFFu), "#" + std::to_string(language));
  if (!data || (*data & 0x80000000u) != 0)
    return std::nullopt;
  const std::uint32_t data_rva = u32_at(root + *data);
  const std::uint32_t data_size = u32_at(root + *data + 4);
  const std::size_t start = offset_of(data_rva);
  if (data_size > bytes_.size() - start)
    throw pe_format_error("resource " + type + "/" + name + " runs past the end of the file");
  return std::vector<unsigned char>(
      bytes_.begin() + static_cast<std::ptrdiff_t>(start),
      bytes_.begin() + static_cast<std::ptrdiff_t>(start + data_size));
}

std::optional<std::pair<std::string, std::uint32_t>> pe_file::debug_link() const {
  for (const pe_section& section : sections_) {
    if (section.name != ".gnu_debuglink")
      continue;
    // The file name, NUL-padded to four bytes, then the CRC-32.
    const std::string file = text_at(section.virtual_address);
    const std::uint32_t crc_at = section.virtual_address + ((file.size() + 4) & ~3u);
    return std::make_pair(file, u32_at(crc_at));
  }
  return std::nullopt;
}
