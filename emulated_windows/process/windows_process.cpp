#include "emulated_windows/process/windows_process.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "emulated_windows/process/windows_functions.hpp"
#include "emulated_windows/process/windows_loader.hpp"

namespace {

using namespace emulated_layout;

// Thread block fields a 32-bit module may read through FS.
constexpr std::uint32_t teb_exception_list = 0x00;
constexpr std::uint32_t teb_stack_base = 0x04;
constexpr std::uint32_t teb_stack_limit = 0x08;
constexpr std::uint32_t teb_self = 0x18;
constexpr std::uint32_t teb_process_id = 0x20;
constexpr std::uint32_t teb_thread_id = 0x24;
constexpr std::uint32_t teb_process_block = 0x30;
constexpr std::uint32_t teb_last_error = 0x34;
constexpr std::uint32_t teb_tls_slots = 0xE10;
constexpr std::uint32_t teb_tls_expansion_slots = 0xF94;
constexpr std::uint32_t tls_minimum_slots = 64;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// How LoadLibrary and GetModuleHandle compare names: the file name only,
// without regard to case, ".dll" added when there is no extension.
std::string module_key(const std::string& name) {
  std::string file = lower(name.substr(name.find_last_of("/\\") + 1));
  if (file.find('.') == std::string::npos)
    file += ".dll";
  return file;
}

}  // namespace

bool process_books::operator==(const process_books& o) const {
  return handles == o.handles && tls_slots == o.tls_slots &&
         critical_sections == o.critical_sections && modules == o.modules &&
         heap_blocks == o.heap_blocks && heap_bytes == o.heap_bytes &&
         virtual_bytes == o.virtual_bytes && vectored_handlers == o.vectored_handlers;
}

std::string process_books::describe() const {
  auto count = [](std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  return count(handles, "handle", "handles") + ", " + count(tls_slots, "TLS slot", "TLS slots") +
         ", " + count(critical_sections, "critical section", "critical sections") + ", " +
         count(modules, "module", "modules") + ", " + std::to_string(heap_bytes) +
         " heap bytes in " + count(heap_blocks, "block", "blocks") +
         (virtual_bytes != 0 ? ", " + std::to_string(virtual_bytes) + " bytes of VirtualAlloc"
                             : std::string()) +
         (vectored_handlers != 0 ? ", " + count(vectored_handlers, "vectored exception handler",
                                                "vectored exception handlers")
                                 : std::string());
}

windows_process::windows_process(const windows_machine& described)
    : heap(cpu, emulated_layout::heap, heap_size),
      machine(described),
      arena_next_(host_arena),
      tls_slots_(tls_slot_count, false) {
  cpu.map(host_arena, host_arena_size);
  cpu.map(thread_block, 0x2000);
  cpu.write32(thread_block + teb_exception_list, 0xFFFFFFFF);  // end of the SEH chain
  cpu.write32(thread_block + teb_stack_base, stack_base);
  cpu.write32(thread_block + teb_stack_limit, stack_limit);
  cpu.write32(thread_block + teb_self, thread_block);
  cpu.write32(thread_block + teb_process_id, 0x1234);
  cpu.write32(thread_block + teb_thread_id, 0x5678);
  cpu.write32(thread_block + teb_process_block, process_block);
  tls_expansion_ = host_allocate(4 * (tls_slot_count - tls_minimum_slots), 4);
  cpu.write32(thread_block + teb_tls_expansion_slots, tls_expansion_);
  cpu.set_thread_block(thread_block, 0x1000);
  cpu.cpuid = [this](std::uint32_t leaf, std::uint32_t subleaf) {
    return machine.cpuid ? machine.cpuid(leaf, subleaf) : native_cpuid(leaf, subleaf);
  };
  // The system DLLs a host has loaded (where XP has them; only handles,
  // nothing is mapped there).
  for (const auto& [dll, handle] :
       {std::pair<const char*, std::uint32_t>{"KERNEL32.dll", 0x7C800000},
        {"msvcrt.dll", 0x77C10000},
        {"USER32.dll", 0x7E410000},
        {"GDI32.dll", 0x77F10000},
        {"ADVAPI32.dll", 0x77DD0000},
        {"SHELL32.dll", 0x7C9C0000},
        {"SHLWAPI.dll", 0x77F60000},
        {"ole32.dll", 0x774E0000},
        {"OLEAUT32.dll", 0x77120000},
        {"VERSION.dll", 0x77C00000},
        {"WINMM.dll", 0x76B40000},
        {"PSAPI.DLL", 0x76BF0000}})
    add_system_module(dll, handle);
  for (void (*provide_dll)(windows_process&) :
       {provide_kernel32, provide_kernel32_memory, provide_kernel32_synchronization,
        provide_kernel32_threads, provide_kernel32_time, provide_kernel32_text,
        provide_kernel32_process, provide_modules, provide_msvcrt, provide_msvcrt_text,
        provide_user32, provide_advapi32, provide_shell32, provide_winmm})
    provide_dll(*this);
}

windows_process::~windows_process() = default;

void windows_process::add_system_module(const std::string& dll, std::uint32_t handle) {
  module_record record;
  record.dll = dll;
  record.handle = handle;
  record.pinned = true;
  modules_.push_back(std::move(record));
}

loaded_module& windows_process::load_library(const std::string& path, std::uint32_t base) {
  if (const std::uint32_t handle = module_handle(path); handle != 0) {
    module_record& record = *record_of(handle);
    if (!record.image)
      throw load_error("cannot load " + path + ": a module of that name is already loaded");
    ++record.references;
    return *record.image;
  }
  auto image = std::make_unique<loaded_module>(*this, path, base);
  loaded_module& loaded = *image;
  module_record record;
  record.dll = path.substr(path.find_last_of("/\\") + 1);
  record.handle = loaded.base();
  record.image = std::move(image);
  modules_.push_back(std::move(record));
  try {
    // The module is in the list while it attaches, as Windows has it then.
    loaded.attach();
  } catch (...) {
    loaded.unmap();
    modules_.pop_back();
    throw;
  }
  return loaded;
}

bool windows_process::free_library(std::uint32_t handle) {
  module_record* record = record_of(handle);
  if (record == nullptr || record->handle == 0)
    return false;
  if (record->pinned || --record->references > 0)
    return true;
  if (record->image) {
    record->image->unload();
    record->image->unmap();
  }
  // The detach may have changed the list (a FreeLibrary of its own).
  const auto gone = std::find_if(modules_.begin(), modules_.end(),
                                 [handle](const module_record& m) { return m.handle == handle; });
  if (gone != modules_.end())
    modules_.erase(gone);
  return true;
}

std::uint32_t windows_process::load_native_module(const std::string& dll) {
  module_record record;
  record.dll = dll;
  record.handle = next_native_module_;
  next_native_module_ += 0x10000;
  modules_.push_back(std::move(record));
  return modules_.back().handle;
}

std::uint32_t windows_process::module_handle(const std::string& name) const {
  const std::string wanted = module_key(name);
  for (const module_record& m : modules_) {
    if (module_key(m.dll) == wanted)
      return m.handle;
  }
  return 0;
}

loaded_module* windows_process::image_at(std::uint32_t address) {
  for (module_record& m : modules_) {
    if (m.image && address - m.image->base() < m.image->size())
      return m.image.get();
  }
  return nullptr;
}

windows_process::module_record* windows_process::record_of(std::uint32_t handle) {
  for (module_record& m : modules_) {
    if (m.handle == handle)
      return &m;
  }
  return nullptr;
}

const windows_process::module_record* windows_process::record_of(std::uint32_t handle) const {
  return const_cast<windows_process*>(this)->record_of(handle);
}

int windows_process::module_references(std::uint32_t handle) const {
  const module_record* record = record_of(handle);
  return record == nullptr ? 0 : record->references;
}

bool windows_process::module_pinned(std::uint32_t handle) const {
  const module_record* record = record_of(handle);
  return record != nullptr && record->pinned;
}

bool windows_process::add_module_reference(std::uint32_t handle) {
  module_record* record = record_of(handle);
  if (record == nullptr)
    return false;
  ++record->references;
  return true;
}

bool windows_process::pin_module(std::uint32_t handle) {
  module_record* record = record_of(handle);
  if (record == nullptr)
    return false;
  record->pinned = true;
  return true;
}

std::string windows_process::module_name(std::uint32_t handle) const {
  const module_record* record = record_of(handle);
  return record == nullptr ? std::string() : record->dll;
}

std::uint32_t windows_process::host_allocate(std::uint32_t size, std::uint32_t alignment) {
  const std::uint32_t address = (arena_next_ + alignment - 1) & ~(alignment - 1);
  if (address + std::uint64_t{size} > host_arena + host_arena_size)
    throw emulation_error("host arena full");
  arena_next_ = address + size;
  return address;
}

std::uint32_t windows_process::host_string(const std::string& text) {
  const std::uint32_t address = host_allocate(static_cast<std::uint32_t>(text.size() + 1), 1);
  cpu.write(address, text.c_str(), text.size() + 1);
  return address;
}

std::string windows_process::key(const std::string& dll, const std::string& function) {
  return lower(dll) + "!" + function;
}

void windows_process::provide(const std::string& dll, const std::string& function,
                              std::uint16_t popped, stub_handler handler) {
  provided_[key(dll, function)] = provided{popped, std::move(handler), 0};
}

void windows_process::provide_data(const std::string& dll, const std::string& name,
                                   std::uint32_t address) {
  provided_[key(dll, name)] = provided{0, nullptr, address};
}

std::uint32_t windows_process::bind(const std::string& dll, const std::string& function) {
  const std::string k = key(dll, function);
  const std::optional<windows_version> first = first_windows_with(dll, function);
  if (first && *first > machine.version && !bind_functions_of_later_versions)
    throw emulation_error(dll + "!" + function + " is not exported by " +
                          windows_version_name(machine.version));
  if (const auto it = bound_.find(k); it != bound_.end())
    return it->second;
  const std::string name = dll + "!" + function;
  std::uint32_t address = 0;
  const auto it = provided_.find(k);
  if (it == provided_.end()) {
    address = cpu.add_stub(name, 0, [name](stub_call& call) { call.cpu.stop_call_missing(name); });
  } else if (it->second.data != 0) {
    address = it->second.data;
  } else {
    stub_handler handler = it->second.handler;
    std::uint64_t* calls = &stub_calls_[name];  // map nodes stay put
    address = cpu.add_stub(name, it->second.popped, [calls, handler](stub_call& call) {
      ++*calls;
      handler(call);
    });
  }
  bound_[k] = address;
  return address;
}

std::uint32_t windows_process::find_export(std::uint32_t module, const std::string& function) {
  module_record* record = record_of(module);
  if (record == nullptr || function.empty())
    return 0;
  if (record->image)
    return record->image->export_address(function);
  // What this version exports: a function the emulated Windows does not
  // provide is found too, and a call of it is the validator's gap.
  const std::optional<windows_version> first = first_windows_with(record->dll, function);
  const bool is_provided = provided_.count(key(record->dll, function)) != 0;
  const bool absent = (first ? *first > machine.version : !is_provided) ||
                      (function == "GetNativeSystemInfo" && !machine.has_get_native_system_info) ||
                      (function == "IsWow64Process" && !machine.has_is_wow64_process) ||
                      (function == "GetProductInfo" && !machine.has_get_product_info);
  if (absent)
    return 0;
  return bind(record->dll, function);
}

std::uint32_t windows_process::open_handle(const std::string& kind) {
  return open_handle(std::make_shared<kernel_object>(kind));
}

std::uint32_t windows_process::open_handle(std::shared_ptr<kernel_object> object) {
  next_handle_ += 4;
  handles_[next_handle_] = std::move(object);
  return next_handle_;
}

std::shared_ptr<kernel_object> windows_process::object_of(std::uint32_t handle) const {
  if (handle == current_process_handle)
    return current_process_;
  if (handle == current_thread_handle)
    return current_thread_;
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second;
}

std::map<std::uint32_t, std::string> windows_process::open_handles() const {
  std::map<std::uint32_t, std::string> kinds;
  for (const auto& [handle, object] : handles_) kinds[handle] = object->kind;
  return kinds;
}

bool windows_process::close_handle(std::uint32_t handle) {
  return handles_.erase(handle) != 0;
}

std::uint32_t windows_process::allocate_tls_slot() {
  for (std::uint32_t i = 0; i < tls_slot_count; ++i) {
    if (!tls_slots_[i]) {
      tls_slots_[i] = true;
      cpu.write32(tls_slot_address(i), 0);
      return i;
    }
  }
  return 0xFFFFFFFF;  // TLS_OUT_OF_INDEXES
}

bool windows_process::free_tls_slot(std::uint32_t index) {
  if (!tls_slot_in_use(index))
    return false;
  tls_slots_[index] = false;
  return true;
}

bool windows_process::tls_slot_in_use(std::uint32_t index) const {
  return index < tls_slot_count && tls_slots_[index];
}

std::uint32_t windows_process::tls_slot_address(std::uint32_t index) const {
  return index < tls_minimum_slots ? thread_block + teb_tls_slots + 4 * index
                                   : tls_expansion_ + 4 * (index - tls_minimum_slots);
}

process_books windows_process::books() const {
  process_books b;
  b.handles = handles_.size();
  b.tls_slots = static_cast<std::size_t>(std::count(tls_slots_.begin(), tls_slots_.end(), true));
  b.critical_sections = critical_sections.size();
  for (const module_record& m : modules_) b.modules += m.pinned && !m.image ? 0 : 1;
  b.heap_blocks = heap.live_blocks().size();
  for (const auto& [address, size] : heap.live_blocks()) b.heap_bytes += size;
  b.virtual_bytes = pages.bytes();
  b.vectored_handlers = vectored_handlers;
  return b;
}

void windows_process::set_last_error(std::uint32_t code) {
  cpu.write32(thread_block + teb_last_error, code);
}
