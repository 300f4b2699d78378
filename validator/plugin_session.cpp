#include "validator/plugin_session.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "host/plugin_entry_points.hpp"
#include "refhost/pictures/memory_image.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr std::uint16_t english = 1033;
constexpr std::uint8_t guard_byte = 0xAB;

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
  const std::map<std::string, std::string> table = strings;
  resources.text = [table](const std::string& id) -> std::optional<std::string> {
    const auto it = table.find(id);
    return it == table.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  // An image resource is a TGA file of type TARGA under the upper-case name.
  const std::shared_ptr<const pe_file> module_image = image;
  resources.image = [module_image](contract_ledger& ledger,
                                   const std::string& name) -> std::unique_ptr<contract_image> {
    try {
      const auto bytes = module_image->resource("TARGA", upper(name), english);
      if (!bytes)
        return nullptr;
      const host_image_ptr decoded = decode_tga(bytes->data(), bytes->size());
      std::vector<Bgra8> pixels(decoded->pixels().begin(), decoded->pixels().end());
      return std::make_unique<contract_image>(ledger, "image resource \"" + name + "\"",
                                              decoded->width(), decoded->height(),
                                              std::move(pixels));
    } catch (const std::exception&) {
      return nullptr;  // not an image the host can read
    }
  };
  return resources;
}

std::string call_problem(const std::string& what, const call_outcome& outcome) {
  if (outcome.clean())
    return std::string();
  if (!outcome.missing_function.empty())
    throw validator_gap(what + " " + outcome.stop_reason);
  return what + " " + outcome.describe();
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

std::string return_problem(const std::string& what, const call_outcome& outcome) {
  return outcome.returned ? std::string() : call_problem(what, outcome);
}

plugin_session::plugin_session(const plugin_file& plugin, const windows_machine& machine,
                               std::uint32_t base)
    : file(plugin),
      host(machine),
      module((host.process.bind_functions_of_later_versions = true,
              host.process.load_library(plugin.path, base))),
      contract(plugin.resources()) {}

call_outcome plugin_session::call_export(const std::string& name,
                                         const std::vector<std::uint32_t>& args) {
  return host.call_export(module, name, args);
}

call_outcome plugin_session::call_slot(std::uint32_t component, int slot,
                                       const std::vector<std::uint32_t>& args) {
  const bool com = slot <= table_slot::release;
  return host.call_slot(component, slot,
                        com ? call_convention::com_stdcall : call_convention::thiscall, args);
}

std::uint32_t plugin_session::application() {
  return host.hosts.address_of<HostApplication>(&contract.application);
}

std::uint32_t plugin_session::interface_id(bool effector) {
  std::uint8_t id[16];
  std::memcpy(id, effector_interface_id, 16);
  if (!effector)
    id[15] ^= 0x01;
  return host.host_bytes(id, 16);
}

std::uint32_t plugin_session::guarded_location(std::uint32_t size) {
  const std::vector<std::uint8_t> fill(size + 8, guard_byte);
  return host.host_bytes(fill.data(), fill.size()) + 4;
}

bool plugin_session::guards_kept(std::uint32_t at, std::uint32_t size) {
  return host.process.cpu.read32(at - 4) == 0xABABABABu &&
         host.process.cpu.read32(at + size) == 0xABABABABu;
}

std::uint32_t plugin_session::create_component(call_outcome& outcome) {
  const std::uint32_t out = guarded_location(4);
  host.process.cpu.write32(out, 0);
  outcome = call_export("_create_interface@20", {0, 0, out, 0, 0});
  return outcome.clean() ? host.process.cpu.read32(out) : 0;
}

contract_frame& plugin_session::new_frame(std::int32_t width, std::int32_t height, bool aborted) {
  contract.frames.push_back(std::make_unique<contract_frame>(contract.ledger, contract.application,
                                                             width, height, aborted));
  return *contract.frames.back();
}

std::string plugin_session::hook_calls::problem() const {
  std::string text = call_problem("begin_render (slot 205)", begin);
  const std::string after = begin.clean() ? call_problem("end_render (slot 207)", end) : "";
  return text.empty() ? after : text;
}

plugin_session::hook_calls plugin_session::render(std::uint32_t component, contract_frame& frame) {
  hook_calls calls;
  const std::uint32_t job = host.hosts.address_of<RenderJob>(&frame.job);
  calls.begin = call_slot(component, table_slot::begin_render, {job, application(), 0});
  if (calls.begin.clean())
    calls.end = call_slot(component, table_slot::end_render, {0});
  frame.job.gone = true;
  return calls;
}

bool plugin_session::component_alive(std::uint32_t component) const {
  for (const auto& [block, size] : host.process.heap.live_blocks()) {
    if (component >= block && component - block < size)
      return true;
  }
  return false;
}
