#include "emulated_windows/host/plugin_host.hpp"

#include <stdexcept>
#include <string>

plugin_host::plugin_host(const windows_machine& machine) : process(machine) {}

call_outcome plugin_host::call_export(const loaded_module& module, entry_point e,
                                      const std::vector<std::uint32_t>& args) {
  const entry_point_facts& facts = facts_of(e);
  if (args.size() != static_cast<std::size_t>(facts.arguments))
    throw std::invalid_argument(std::string(facts.decorated_name) + " takes " +
                                std::to_string(facts.arguments) + " arguments, not " +
                                std::to_string(args.size()));
  const std::uint32_t address = module.export_address(facts.decorated_name);
  if (address == 0) {
    call_outcome missing;
    missing.stop_reason = std::string("the module exports no ") + facts.decorated_name;
    return missing;
  }
  return process.cpu.call(address, call_convention::stdcall, 0, args);
}

call_outcome plugin_host::call_slot(std::uint32_t object, int slot, call_convention convention,
                                    const std::vector<std::uint32_t>& args) {
  try {
    const std::uint32_t table = process.cpu.read32(object);
    const std::uint32_t entry = process.cpu.read32(table + 4 * static_cast<std::uint32_t>(slot));
    return process.cpu.call(entry, convention, object, args);
  } catch (const emulation_error& e) {
    call_outcome unreadable;
    unreadable.stop_reason = std::string("its table cannot be read: ") + e.what();
    return unreadable;
  }
}

std::uint32_t plugin_host::host_bytes(const void* data, std::size_t size) {
  const std::uint32_t address = process.host_allocate(static_cast<std::uint32_t>(size));
  process.cpu.write(address, data, size);
  return address;
}
