#pragma once
// A 32-bit Windows image read from its bytes, as a loader or a packaging
// check sees it, without asking Windows: headers, sections, exports,
// imports and resources. Every read is bounds-checked; a malformed image
// throws pe_format_error naming what is wrong.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct pe_format_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct pe_section {
  std::string name;
  std::uint32_t virtual_address = 0;
  std::uint32_t virtual_size = 0;
  std::uint32_t raw_offset = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t characteristics = 0;
};

struct pe_import_module {
  std::string dll;
  std::vector<std::string> functions;  // "#n" for an import by ordinal
  // The RVA of the address-table slot that receives each function's address.
  std::vector<std::uint32_t> address_slots;
};

// The TLS directory; its addresses are virtual addresses at the image base.
struct pe_tls_directory {
  std::uint32_t raw_data_start = 0;
  std::uint32_t raw_data_end = 0;
  std::uint32_t index_address = 0;
  std::uint32_t callbacks_address = 0;
  std::uint32_t zero_fill = 0;
};

// Indices into the optional header's data directories.
enum class pe_directory : int {
  exports = 0,
  imports = 1,
  resources = 2,
  base_relocations = 5,
  debug = 6,
  tls = 9,
  bound_imports = 11,
  import_addresses = 12,
  delay_imports = 13,
};

struct pe_headers {
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint32_t time_date_stamp = 0;
  std::uint32_t pointer_to_symbol_table = 0;
  std::uint16_t optional_magic = 0;
  std::uint32_t entry_point = 0;
  std::uint32_t image_base = 0;
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
  std::uint16_t os_version[2] = {0, 0};
  std::uint16_t subsystem_version[2] = {0, 0};
  std::uint32_t size_of_image = 0;
  std::uint32_t size_of_headers = 0;
  std::uint16_t subsystem = 0;
  std::uint16_t dll_characteristics = 0;
  std::uint32_t directory_rva[16] = {};
  std::uint32_t directory_size[16] = {};
};

class pe_file {
 public:
  // Throws pe_format_error when the bytes are not a PE32 image.
  explicit pe_file(std::vector<unsigned char> bytes);
  static pe_file read(const std::string& path);

  const std::vector<unsigned char>& bytes() const { return bytes_; }
  const pe_headers& headers() const { return headers_; }
  const std::vector<pe_section>& sections() const { return sections_; }
  std::uint32_t directory_rva(pe_directory d) const;
  std::uint32_t directory_size(pe_directory d) const;

  // The file offset of `rva`, which must lie in a section's raw data.
  std::size_t offset_of(std::uint32_t rva) const;
  std::uint16_t u16_at(std::uint32_t rva) const;
  std::uint32_t u32_at(std::uint32_t rva) const;
  std::string text_at(std::uint32_t rva) const;  // NUL-terminated, inside the file

  // The name the export directory gives the module, and its exported names.
  std::string export_module_name() const;
  std::vector<std::string> export_names() const;
  // The RVA an exported name points to, if exported.
  std::optional<std::uint32_t> export_rva(const std::string& name) const;

  std::vector<pe_import_module> imports() const;

  // The RVAs of the 32-bit words that change by the distance the image is
  // moved from its base; other relocation kinds throw.
  std::vector<std::uint32_t> base_relocations() const;
  std::optional<pe_tls_directory> tls() const;

  // The resource of this type and name (compared without regard to case,
  // as Windows does) in `language`; empty when absent.
  std::optional<std::vector<unsigned char>> resource(const std::string& type,
                                                     const std::string& name,
                                                     std::uint16_t language) const;

  // The file name a .gnu_debuglink section names, and the CRC-32 it expects.
  std::optional<std::pair<std::string, std::uint32_t>> debug_link() const;

 private:
  std::uint16_t u16(std::size_t offset) const;
  std::uint32_t u32(std::size_t offset) const;

  std::vector<unsigned char> bytes_;
  pe_headers headers_;
  std::vector<pe_section> sections_;
};
