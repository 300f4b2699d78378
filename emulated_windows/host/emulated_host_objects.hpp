#pragma once
// The host's five objects as the emulated module sees them: in emulated
// memory, each object is a pointer to its interface's table, laid out
// exactly as host/*.hpp declares it (the slots are read from the
// declarations themselves), and every entry is a thiscall stub that pops
// its arguments and forwards the call to a native host object (the host
// kit's, host_kit/), whose ledger records it. Arguments and results
// cross over by kind: numbers as they are, records copied in and back,
// texts copied into host memory, objects as their emulated addresses, and
// a result location handed back as the caller's own address.

#include <cstdint>
#include <map>
#include <string>
#include <typeinfo>
#include <utility>

#include "emulated_windows/process/windows_process.hpp"
#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_services.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"

class emulated_host_objects {
 public:
  explicit emulated_host_objects(windows_process& process);

  // The emulated address standing for `object` (made on first use); 0 for null.
  template <class Interface>
  std::uint32_t address_of(Interface* object) {
    return object == nullptr ? 0 : address_for(object, typeid(Interface));
  }
  // The native object behind an emulated address, if it is one of `Interface`.
  template <class Interface>
  Interface* object_at(std::uint32_t address) const {
    const auto it = objects_.find(address);
    if (it == objects_.end() || *it->second.second != typeid(Interface))
      return nullptr;
    return static_cast<Interface*>(it->second.first);
  }
  // A host-owned copy of `text` in emulated memory; the same address for
  // the same pointer and text, as a host that keeps its strings would give.
  std::uint32_t text_address(const char* text);

  // Emulated table address of each interface, by its C++ type.
  std::map<std::string, std::uint32_t> tables;
  windows_process& process;

 private:
  std::uint32_t address_for(void* object, const std::type_info& interface);

  std::map<void*, std::uint32_t> addresses_;
  std::map<std::uint32_t, std::pair<void*, const std::type_info*>> objects_;
  std::map<const char*, std::pair<std::string, std::uint32_t>> texts_;
};
