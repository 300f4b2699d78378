#include "tests/emulated_windows/foreign_plugin.hpp"

#include <cstdlib>
#include <fstream>

// {50E47D64-8922-11D1-9A00-00C04FCC9C26} in GUID byte layout.
const unsigned char effector_interface_id_bytes[16] = {
    0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89, 0xD1, 0x11, 0x9A, 0x00, 0x00, 0xC0, 0x4F, 0xCC, 0x9C, 0x26};
// The same with its last byte changed.
const unsigned char foreign_interface_id_bytes[16] = {
    0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89, 0xD1, 0x11, 0x9A, 0x00, 0x00, 0xC0, 0x4F, 0xCC, 0x9C, 0x27};

foreign_plugin::foreign_plugin(const windows_machine& machine, std::uint32_t base,
                               const std::string& path)
    : plugin_host(machine), module(process.load_library(path, base)) {}

std::uint32_t foreign_plugin::create_component() {
  const std::uint32_t out = process.host_allocate(4, 4);
  process.cpu.write32(out, 0);
  const call_outcome created = call_export<entry_point::create_interface>({0, 0, out, 0, 0});
  if (!created.clean() || created.eax != 1)
    return 0;
  return process.cpu.read32(out);
}

std::string foreign_plugin::render_frame(std::uint32_t component, test_host& host) {
  const std::uint32_t job = hosts.address_of<RenderJob>(&host.job);
  const std::uint32_t application = hosts.address_of<HostApplication>(&host.application);
  const call_outcome begin =
      call_slot(component, 205, call_convention::thiscall, {job, application, 0});
  if (!begin.clean())
    return "begin_render " + begin.describe();
  const call_outcome end = call_slot(component, 207, call_convention::thiscall, {0});
  if (!end.clean())
    return "end_render " + end.describe();
  return std::string();
}
