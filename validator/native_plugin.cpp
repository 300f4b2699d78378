#include "validator/native_plugin.hpp"

#include <array>
#include <cstring>
#include <exception>

#include "host/component_table.hpp"
#include "refhost/hosting/host_objects.hpp"
#include "validator/native_allocations.hpp"

namespace {

constexpr std::uint8_t guard_byte = 0xAB;
// IID_IUnknown, {00000000-0000-0000-C000-000000000046}, in GUID byte layout.
constexpr std::uint8_t iunknown_id[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

// The module's texts and images as velloq-host reads them, the images as
// pictures that keep books.
module_resources contract_resources(const plugin_module& module) {
  auto problems = std::make_shared<host_problems>();
  auto read = std::make_shared<host_kit::module_resources<velloq_host_policy>>(
      resources_of(module, 1033, *problems));
  module_resources resources;
  resources.text = [read, problems](const char* id) { return read->text(id); };
  resources.image = [read, problems](const char* name) -> std::unique_ptr<contract_image> {
    const std::unique_ptr<memory_image> decoded = read->image(name);
    if (!decoded)
      return nullptr;
    auto copy = std::make_unique<contract_image>(decoded->width(), decoded->height());
    std::copy(decoded->pixels().begin(), decoded->pixels().end(), copy->pixels().begin());
    return copy;
  };
  return resources;
}

effector_interface* component_of(component_ref component) {
  return reinterpret_cast<effector_interface*>(component);
}
IUnknown* unknown_of(component_ref component) {
  return static_cast<IUnknown*>(component_of(component));
}

// A location of one T between guard bytes that must stay as they are.
template <class T>
struct guarded {
  guarded() {
    std::memset(before, guard_byte, sizeof before);
    std::memset(after, guard_byte, sizeof after);
  }
  bool kept() const {
    for (std::size_t i = 0; i < sizeof before; ++i) {
      if (before[i] != guard_byte || after[i] != guard_byte)
        return false;
    }
    return true;
  }
  std::uint8_t before[8];
  T value{};
  std::uint8_t after[8];
};

// Runs one call into the module, the host's call `what`, with its
// allocations counted; an exception that leaves the module is a call that
// did not come back.
template <class Call>
target_call call_module(host_kit::ledger& ledger, const std::string& what, Call&& call) {
  const host_kit::ledger::plugin_call in_ledger(ledger, what);
  target_call result;
  try {
    native_allocations::counting_scope counting;
    result.answer = static_cast<std::uint32_t>(call());
  } catch (const std::exception& error) {
    result.returned = false;
    result.threw = true;
    result.fault = std::string("lets a C++ exception out: ") + error.what();
  } catch (const char* text) {
    result.returned = false;
    result.threw = true;
    result.fault = std::string("lets a C++ exception out: \"") + text + "\"";
  } catch (...) {
    result.returned = false;
    result.threw = true;
    result.fault = "lets a C++ exception out";
  }
  return result;
}

// An entry of a table called with `this` and up to seven words: in this
// process every word and pointer is passed as one integer register or
// stack slot, whatever the declaration's types.
std::uint64_t call_table_entry(void* self, void* entry, const std::vector<std::uintptr_t>& a) {
  using w = std::uintptr_t;
  switch (a.size()) {
    case 0:
      return reinterpret_cast<std::uint64_t (*)(void*)>(entry)(self);
    case 1:
      return reinterpret_cast<std::uint64_t (*)(void*, w)>(entry)(self, a[0]);
    case 2:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w)>(entry)(self, a[0], a[1]);
    case 3:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w, w)>(entry)(self, a[0], a[1], a[2]);
    case 4:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w, w, w)>(entry)(self, a[0], a[1], a[2],
                                                                           a[3]);
    case 5:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w, w, w, w)>(entry)(self, a[0], a[1],
                                                                              a[2], a[3], a[4]);
    case 6:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w, w, w, w, w)>(entry)(
          self, a[0], a[1], a[2], a[3], a[4], a[5]);
    default:
      return reinterpret_cast<std::uint64_t (*)(void*, w, w, w, w, w, w, w)>(entry)(
          self, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
  }
}

}  // namespace

native_plugin::native_plugin(const std::string& path)
    : native_plugin(std::make_unique<plugin_module>(path)) {}

native_plugin::native_plugin(std::unique_ptr<plugin_module> module)
    : plugin_target(contract_resources(*module)), module_(std::move(module)) {
  // Listing calls would allocate inside the plug-in's calls, where the
  // allocations counted must be the plug-in's.
  contract.ledger.list_calls = false;
}

target_call native_plugin::create_interface(component_ref& component, bool& kept_to_location) {
  guarded<void*> out;
  const target_call r = call_module(contract.ledger, name_of(entry_point::create_interface), [&] {
    return module_->entry_points().create_interface(0, 0, &out.value, 0, 0);
  });
  kept_to_location = out.kept();
  component = r.clean() ? reinterpret_cast<component_ref>(out.value) : 0;
  return r;
}

// The id a host asks for, in GUID byte layout.
static GUID asked_id(interface_query id) {
  GUID asked;
  std::memcpy(&asked, id == interface_query::iunknown ? iunknown_id : effector_interface_id, 16);
  if (id == interface_query::another)
    asked.Data4[7] ^= 0x01;
  return asked;
}

target_call native_plugin::get_uuid(interface_query id, Uuid& answered) {
  const GUID asked = asked_id(id);
  guarded<Uuid> out;
  const target_call r = call_module(contract.ledger, name_of(entry_point::get_uuid), [&] {
    return module_->entry_points().get_uuid(&out.value, &asked, 0, 0) == &out.value;
  });
  answered = out.value;
  return r;
}

target_call native_plugin::query_interface(component_ref component, interface_query id,
                                           component_ref& stored, bool& kept_to_location) {
  GUID asked = asked_id(id);
  guarded<void*> out;
  std::memset(&out.value, guard_byte, sizeof out.value);
  const target_call r = call_module(contract.ledger, entry_name(table_slot::query_interface), [&] {
    return unknown_of(component)->QueryInterface(asked, &out.value);
  });
  stored = reinterpret_cast<component_ref>(out.value);
  if (stored == static_cast<component_ref>(0xABABABABABABABABull))
    stored = 0xABABABABu;  // untouched, as the checks name an untouched location
  kept_to_location = out.kept();
  return r;
}

target_call native_plugin::add_ref(component_ref component) {
  return call_module(contract.ledger, entry_name(table_slot::add_ref),
                     [&] { return unknown_of(component)->AddRef(); });
}
target_call native_plugin::release(component_ref component) {
  return call_module(contract.ledger, entry_name(table_slot::release),
                     [&] { return unknown_of(component)->Release(); });
}
target_call native_plugin::destroy(component_ref component) {
  return call_module(contract.ledger, entry_name(table_slot::deleting_destructor), [&] {
    return reinterpret_cast<std::uintptr_t>(component_of(component)->delete_this(1)) == component;
  });
}
target_call native_plugin::is_valid(component_ref component) {
  return call_module(contract.ledger, entry_name(table_slot::is_valid),
                     [&] { return component_of(component)->is_valid_interface() ? 1 : 0; });
}
target_call native_plugin::begin_render(component_ref component, contract_frame& frame) {
  return call_module(contract.ledger, entry_name(table_slot::begin_render), [&] {
    component_of(component)->begin_render(&frame.job, &contract.application, 0);
    return 0;
  });
}
target_call native_plugin::end_render(component_ref component) {
  return call_module(contract.ledger, entry_name(table_slot::end_render), [&] {
    component_of(component)->end_render(0);
    return 0;
  });
}

entry_call native_plugin::call_entry(component_ref component, int slot) {
  const table_entry& entry = component_table[slot];
  std::vector<guarded<std::array<std::uint8_t, 16>>> locations(
      static_cast<std::size_t>(entry.arguments));
  std::vector<std::uintptr_t> args;
  for (int i = 0; i < entry.arguments; ++i) {
    const bool pointer = entry.pointee_bytes[static_cast<std::size_t>(i)] != 0;
    args.push_back(
        pointer ? reinterpret_cast<std::uintptr_t>(&locations[static_cast<std::size_t>(i)].value)
                : 0);
  }
  void* const self = reinterpret_cast<void*>(component);
  void* const code = (*reinterpret_cast<void* const* const*>(self))[slot];
  std::uintptr_t answer = 0;
  entry_call seen;
  seen.call = call_module(contract.ledger, entry_name(slot), [&] {
    answer = static_cast<std::uintptr_t>(call_table_entry(self, code, args));
    return answer;
  });
  for (const auto& location : locations) seen.kept_to_locations &= location.kept();
  for (int i = 0; i < entry.arguments; ++i) {
    const std::size_t bytes = entry.pointee_bytes[static_cast<std::size_t>(i)];
    if (bytes != 0) {
      const auto& value = locations[static_cast<std::size_t>(i)].value;
      seen.first_location.assign(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(bytes));
      break;
    }
  }
  if (entry.answer == entry_answer::location && seen.call.returned)
    seen.answered_location = answer == args[0] || answer == 0;
  return seen;
}

std::optional<std::uint64_t> native_plugin::allocations() const {
  return native_allocations::counted();
}
void native_plugin::fail_allocation(std::uint64_t nth) {
  native_allocations::fail(nth);
}

std::string native_plugin::unload() {
  module_.reset();
  return std::string();
}
