#include "validator/native_plugin.hpp"

#include <cstring>
#include <exception>

#include "host/effector_interface.hpp"
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

// Runs one call into the module with its allocations counted; an exception
// that leaves the module is a call that did not come back.
template <class Call>
target_call call_module(Call&& call) {
  target_call result;
  try {
    native_allocations::counting_scope counting;
    result.answer = static_cast<std::uint32_t>(call());
  } catch (const std::exception& error) {
    result.returned = false;
    result.fault = std::string("let an exception out: ") + error.what();
  } catch (...) {
    result.returned = false;
    result.fault = "let an exception out";
  }
  return result;
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
  const target_call r =
      call_module([&] { return module_->entry_points().create_interface(0, 0, &out.value, 0, 0); });
  kept_to_location = out.kept();
  component = r.clean() ? reinterpret_cast<component_ref>(out.value) : 0;
  return r;
}

target_call native_plugin::query_interface(component_ref component, interface_query id,
                                           component_ref& stored, bool& kept_to_location) {
  GUID asked;
  std::memcpy(&asked, id == interface_query::iunknown ? iunknown_id : effector_interface_id, 16);
  if (id == interface_query::another)
    asked.Data4[7] ^= 0x01;
  guarded<void*> out;
  std::memset(&out.value, guard_byte, sizeof out.value);
  const target_call r =
      call_module([&] { return unknown_of(component)->QueryInterface(asked, &out.value); });
  stored = reinterpret_cast<component_ref>(out.value);
  if (stored == static_cast<component_ref>(0xABABABABABABABABull))
    stored = 0xABABABABu;  // untouched, as the checks name an untouched location
  kept_to_location = out.kept();
  return r;
}

target_call native_plugin::add_ref(component_ref component) {
  return call_module([&] { return unknown_of(component)->AddRef(); });
}
target_call native_plugin::release(component_ref component) {
  return call_module([&] { return unknown_of(component)->Release(); });
}
target_call native_plugin::is_valid(component_ref component) {
  return call_module([&] { return component_of(component)->is_valid_interface() ? 1 : 0; });
}
target_call native_plugin::begin_render(component_ref component, contract_frame& frame) {
  return call_module([&] {
    component_of(component)->begin_render(&frame.job, &contract.application, 0);
    return 0;
  });
}
target_call native_plugin::end_render(component_ref component) {
  return call_module([&] {
    component_of(component)->end_render(0);
    return 0;
  });
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
