#include "tests/emulated_windows/scene_objects.hpp"

#include <algorithm>
#include <cstring>

#include "tests/emulated_windows/foreign_plugin.hpp"

namespace {

// Every aligned word of the image equal to `value`, as addresses.
std::vector<std::uint32_t> words_equal_to(const std::vector<std::uint8_t>& image,
                                          std::uint32_t base, std::uint32_t value) {
  std::vector<std::uint32_t> found;
  for (std::size_t at = 0; at + 4 <= image.size(); at += 4) {
    std::uint32_t word;
    std::memcpy(&word, &image[at], 4);
    if (word == value)
      found.push_back(base + static_cast<std::uint32_t>(at));
  }
  return found;
}

std::uint32_t text_in_image(const std::vector<std::uint8_t>& image, std::uint32_t base,
                            const std::string& text) {
  const std::string needle = text + '\0';
  const auto it = std::search(image.begin(), image.end(), needle.begin(), needle.end());
  if (it == image.end())
    throw emulation_error("the module holds no type name " + text);
  return base + static_cast<std::uint32_t>(it - image.begin());
}

bool inside(std::uint32_t address, std::uint32_t base, std::uint32_t size) {
  return address >= base && address - base < size;
}

}  // namespace

module_scene_types find_module_scene_types(foreign_plugin& dll) {
  const std::uint32_t base = dll.module.base(), size = dll.module.size();
  const std::vector<std::uint8_t> image = dll.process.cpu.read_bytes(base, size);
  const std::uint32_t part_name = text_in_image(image, base, "10part_class");
  module_scene_types types;
  for (std::uint32_t name_word : words_equal_to(image, base, part_name)) {
    const std::uint32_t candidate = name_word - 4;
    const std::uint32_t table = dll.process.cpu.read32(candidate);
    const std::uint32_t parent = dll.process.cpu.read32(candidate + 8);
    if (!inside(table, base, size) || !inside(parent, base, size))
      continue;
    const std::uint32_t parent_name = dll.process.cpu.read32(parent + 4);
    if (inside(parent_name, base, size) &&
        dll.process.cpu.read_string(parent_name, 64) == "11shape_class") {
      types.part_class = candidate;
      types.shape_class = parent;
      types.single_base_type_table = table;
      return types;
    }
  }
  throw emulation_error("the module holds no type_info for part_class");
}

std::uint32_t make_single_base_type(foreign_plugin& dll, const module_scene_types& types,
                                    const std::string& mangled_name, std::uint32_t base) {
  const std::uint32_t words[3] = {types.single_base_type_table,
                                  dll.process.host_string(mangled_name), base};
  return dll.host_bytes(words, sizeof words);
}

std::uint32_t make_scene_object(foreign_plugin& dll, std::uint32_t type_info) {
  const std::uint32_t never_called = dll.process.cpu.add_stub(
      "scene object destructor", 0,
      [](stub_call& c) { c.cpu.stop_call("the module destroyed a scene object the host owns"); });
  const std::uint32_t table[4] = {0, type_info, never_called, never_called};
  const std::uint32_t table_address = dll.host_bytes(table, sizeof table);
  const std::uint32_t object[2] = {table_address + 8, 0};
  return dll.host_bytes(object, sizeof object);
}
