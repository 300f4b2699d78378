#include "validator/emulated_plugin.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "host/component_table.hpp"
#include "host/plugin_entry_points.hpp"
#include "refhost/pictures/memory_image.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr std::uint16_t english = 1033;
// How a call ends that a C++ exception left (target_call::threw).
constexpr char exception_left[] = "lets a C++ exception out";
constexpr char cxx_exception_code[] = "raises exception 0xE06D7363";
constexpr char terminated[] = "terminate called";
constexpr char abort_called[] = "calls abort(), which ends the host's process";
// Executable section (IMAGE_SCN_MEM_EXECUTE).
constexpr std::uint32_t executable = 0x20000000;
constexpr std::uint8_t guard_byte = 0xAB;
// IID_IUnknown, {00000000-0000-0000-C000-000000000046}, in GUID byte layout.
constexpr std::uint8_t iunknown_id[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The value of `attribute="..."` in `element`, with XML's five entities.
std::string attribute(const std::string& element, const std::string& attribute) {
  const std::string key = attribute + "=\"";
  const std::size_t at = element.find(key);
  if (at == std::string::npos)
    return std::string();
  const std::size_t begin = at + key.size(), end = element.find('"', begin);
  std::string raw = element.substr(begin, end - begin), text;
  static const std::pair<const char*, char> entities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (std::size_t i = 0; i < raw.size();) {
    bool replaced = false;
    for (const auto& [entity, character] : entities) {
      if (raw.compare(i, std::strlen(entity), entity) == 0) {
        text += character;
        i += std::strlen(entity);
        replaced = true;
        break;
      }
    }
    if (!replaced)
      text += raw[i++];
  }
  return text;
}

// The `string` elements of the module's string table (type QZUL, name TEXT).
std::map<std::string, std::string> string_table(const pe_file& image) {
  std::map<std::string, std::string> strings;
  const auto table = image.resource("QZUL", "TEXT", english);
  if (!table)
    return strings;
  const std::string text(table->begin(), table->end());
  for (std::size_t at = text.find("<string "); at != std::string::npos;
       at = text.find("<string ", at + 1)) {
    const std::string element = text.substr(at, text.find('>', at) - at);
    strings[attribute(element, "id")] = attribute(element, "value");
  }
  return strings;
}

}  // namespace

plugin_file plugin_file::read(const std::string& path) {
  plugin_file file;
  file.path = path;
  file.image = std::make_shared<const pe_file>(pe_file::read(path));
  try {
    file.strings = string_table(*file.image);
  } catch (const pe_format_error&) {
    // A damaged resource section: the host finds no texts.
  }
  return file;
}

module_resources plugin_file::resources() const {
  module_resources resources;
  const auto table = std::make_shared<const std::map<std::string, std::string>>(strings);
  resources.text = [table](const char* id) -> const char* {
    const auto it = table->find(id);
    return it == table->end() ? "" : it->second.c_str();
  };
  // An image resource is a TGA file of type TARGA under the upper-case name.
  const std::shared_ptr<const pe_file> module_image = image;
  resources.image = [module_image](const char* name) -> std::unique_ptr<contract_image> {
    try {
      const auto bytes = module_image->resource("TARGA", upper(name), english);
      if (!bytes)
        return nullptr;
      const host_image_ptr decoded = decode_tga(bytes->data(), bytes->size());
      auto copy = std::make_unique<contract_image>(decoded->width(), decoded->height());
      std::copy(decoded->pixels().begin(), decoded->pixels().end(), copy->pixels().begin());
      return copy;
    } catch (const std::exception&) {
      return nullptr;  // not an image the host can read
    }
  };
  return resources;
}

target_call judged(const call_outcome& outcome) {
  target_call call;
  call.answer = outcome.eax;
  call.returned = outcome.returned;
  call.threw = outcome.stop_reason.rfind(exception_left, 0) == 0;
  call.validator_gap = !outcome.missing_function.empty();
  if (!outcome.clean())
    call.fault = call.validator_gap ? outcome.stop_reason : outcome.describe();
  return call;
}

std::string load_problem(const load_error& error) {
  if (!error.missing_function.empty())
    throw validator_gap(std::string(error.what()));
  return error.what();
}

std::string unload_problem(const loaded_module::unload_report& report) {
  for (const std::string& problem : report.problems) {
    if (problem.rfind("DllMain", 0) == 0 || problem.rfind("TLS callback", 0) == 0) {
      if (!report.missing_function.empty())
        throw validator_gap(problem);
      return problem;
    }
  }
  return std::string();
}

emulated_plugin::emulated_plugin(const plugin_file& plugin, const windows_machine& machine,
                                 std::uint32_t base)
    : plugin_target(plugin.resources()),
      host_(machine),
      module_((host_.process.bind_functions_of_later_versions = true,
               host_.process.load_library(plugin.path, base))),
      image_(plugin.image) {}

template <class Call>
call_outcome emulated_plugin::run(const std::string& what, std::uint64_t budget, Call&& call) {
  const host_kit::ledger::plugin_call in_ledger(contract.ledger, what);
  std::string& errors = host_.process.console[2];
  const std::size_t written = errors.size();
  host_.process.cpu.block_limit = budget;
  call_outcome outcome = call();
  if (outcome.over_budget)
    outcome.stop_reason = "still running after " + std::to_string(budget) +
                          " blocks of instructions, its budget as the host's call: an endless "
                          "loop?";
  else if (outcome.stop_reason.rfind(cxx_exception_code, 0) == 0)
    outcome.stop_reason = std::string(exception_left) +
                          " (exception 0xE06D7363, an MSVC-built module's throw, which the "
                          "host's handler takes)";
  else if (outcome.stop_reason == abort_called &&
           errors.find(terminated, written) != std::string::npos)
    outcome.stop_reason = std::string(exception_left) +
                          ": its C++ runtime found no handler, so its terminate handler ran "
                          "(\"" +
                          errors.substr(written, errors.find('\n', written) - written) +
                          "\") and abort() ends the host's process";
  return outcome;
}

call_outcome emulated_plugin::call_export(entry_point e, const std::vector<std::uint32_t>& args) {
  return run(name_of(e), fixed_budget, [&] { return host_.call_export(module_, e, args); });
}

call_outcome emulated_plugin::call_slot(std::uint32_t component, int slot,
                                        const std::vector<std::uint32_t>& args) {
  const bool com = slot <= table_slot::release;
  std::uint64_t budget = fixed_budget;
  if (slot == table_slot::end_render && !contract.frames.empty()) {
    const contract_image& picture = contract.frames.back()->image;
    budget += budget_per_pixel * static_cast<std::uint64_t>(picture.width()) *
              static_cast<std::uint64_t>(picture.height());
  }
  return run(entry_name(slot), budget, [&] {
    return host_.call_slot(component, slot,
                           com ? call_convention::com_stdcall : call_convention::thiscall, args);
  });
}

target_call emulated_plugin::get_uuid(interface_query id, Uuid& answered) {
  const std::uint32_t at = guarded_location(16);
  const call_outcome r = call_export<entry_point::get_uuid>({at, interface_id(id), 0, 0});
  for (int i = 0; i < 4; ++i) answered.words[i] = read32(at + 4 * static_cast<std::uint32_t>(i));
  return judged(r);
}

entry_call emulated_plugin::call_entry(component_ref component, int slot) {
  const table_entry& entry = component_table[slot];
  std::vector<std::uint32_t> args;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> locations;
  for (int i = 0; i < entry.arguments; ++i) {
    const std::uint32_t bytes = entry.pointee_bytes[static_cast<std::size_t>(i)];
    if (bytes == 0) {
      args.push_back(0);
      continue;
    }
    locations.emplace_back(guarded_location(bytes), bytes);
    args.push_back(locations.back().first);
  }
  entry_call seen;
  seen.call = judged(call_slot(static_cast<std::uint32_t>(component), slot, args));
  for (const auto& [at, bytes] : locations) seen.kept_to_locations &= guards_kept(at, bytes);
  if (!locations.empty())
    seen.first_location = read_bytes(locations[0].first, locations[0].second);
  if (entry.answer == entry_answer::location && seen.call.returned)
    seen.answered_location = seen.call.answer == args[0] || seen.call.answer == 0;
  return seen;
}

std::string emulated_plugin::entry_not_code(component_ref component, int slot) const {
  std::uint32_t entry = 0;
  try {
    entry = read32(read32(static_cast<std::uint32_t>(component)) +
                   4 * static_cast<std::uint32_t>(slot));
  } catch (const emulation_error&) {
    return "cannot be read";
  }
  if (entry == 0)
    return "holds null";
  const std::uint32_t offset = entry - module_.base();
  for (const pe_section& section : image_->sections()) {
    if ((section.characteristics & executable) != 0 && offset >= section.virtual_address &&
        offset - section.virtual_address < std::max(section.virtual_size, section.raw_size))
      return std::string();
  }
  char text[64];
  std::snprintf(text, sizeof text, "holds 0x%08X, no address of the module's code", entry);
  return text;
}

std::uint32_t emulated_plugin::application() {
  return host_.hosts.address_of<HostApplication>(&contract.application);
}

std::uint32_t emulated_plugin::interface_id(interface_query query) {
  std::uint8_t id[16];
  std::memcpy(id, query == interface_query::iunknown ? iunknown_id : effector_interface_id, 16);
  if (query == interface_query::another)
    id[15] ^= 0x01;
  return host_.host_bytes(id, 16);
}

std::uint32_t emulated_plugin::guarded_location(std::uint32_t size) {
  const std::vector<std::uint8_t> fill(size + 8, guard_byte);
  return host_.host_bytes(fill.data(), fill.size()) + 4;
}

bool emulated_plugin::guards_kept(std::uint32_t at, std::uint32_t size) const {
  return read32(at - 4) == 0xABABABABu && read32(at + size) == 0xABABABABu;
}

std::uint32_t emulated_plugin::read32(std::uint32_t address) const {
  return host_.process.cpu.read32(address);
}
void emulated_plugin::write32(std::uint32_t address, std::uint32_t value) {
  host_.process.cpu.write32(address, value);
}
std::vector<std::uint8_t> emulated_plugin::read_bytes(std::uint32_t address,
                                                      std::size_t size) const {
  return host_.process.cpu.read_bytes(address, size);
}
std::string emulated_plugin::read_string(std::uint32_t address, std::size_t limit) const {
  return host_.process.cpu.read_string(address, limit);
}
bool emulated_plugin::in_host_memory(std::uint32_t address) const {
  return address - emulated_layout::host_arena < emulated_layout::host_arena_size;
}
void emulated_plugin::set_x87_control(std::uint16_t control) {
  host_.process.cpu.x87_control = control;
}

target_call emulated_plugin::create_interface(component_ref& component, bool& kept_to_location) {
  const std::uint32_t out = guarded_location(4);
  write32(out, 0);
  const call_outcome r = call_export<entry_point::create_interface>({0, 0, out, 0, 0});
  kept_to_location = guards_kept(out, 4);
  component = r.clean() ? read32(out) : 0;
  return judged(r);
}

target_call emulated_plugin::query_interface(component_ref component, interface_query id,
                                             component_ref& stored, bool& kept_to_location) {
  const std::uint32_t out = guarded_location(4);
  const call_outcome r = call_slot(static_cast<std::uint32_t>(component),
                                   table_slot::query_interface, {interface_id(id), out});
  stored = read32(out);
  kept_to_location = guards_kept(out, 4);
  return judged(r);
}

target_call emulated_plugin::add_ref(component_ref component) {
  return judged(call_slot(static_cast<std::uint32_t>(component), table_slot::add_ref, {}));
}
target_call emulated_plugin::release(component_ref component) {
  return judged(call_slot(static_cast<std::uint32_t>(component), table_slot::release, {}));
}
target_call emulated_plugin::destroy(component_ref component) {
  return judged(
      call_slot(static_cast<std::uint32_t>(component), table_slot::deleting_destructor, {1}));
}
target_call emulated_plugin::is_valid(component_ref component) {
  target_call r =
      judged(call_slot(static_cast<std::uint32_t>(component), table_slot::is_valid, {}));
  r.answer &= 0xFF;  // a bool comes back in AL
  return r;
}
target_call emulated_plugin::begin_render(component_ref component, contract_frame& frame) {
  const std::uint32_t job = host_.hosts.address_of<RenderJob>(&frame.job);
  return judged(call_slot(static_cast<std::uint32_t>(component), table_slot::begin_render,
                          {job, application(), 0}));
}
target_call emulated_plugin::end_render(component_ref component) {
  return judged(call_slot(static_cast<std::uint32_t>(component), table_slot::end_render, {0}));
}

std::optional<bool> emulated_plugin::component_alive(component_ref component) const {
  for (const auto& [block, size] : host_.process.heap.live_blocks()) {
    if (component >= block && component - block < size)
      return true;
  }
  return false;
}

std::optional<std::uint64_t> emulated_plugin::allocations() const {
  return host_.process.heap.allocations();
}
void emulated_plugin::fail_allocation(std::uint64_t nth) {
  host_.process.heap.fail_allocation(nth);
}

std::string emulated_plugin::unload() {
  return unload_problem(module_.unload());
}
