#pragma once
// One emulated 32-bit Windows process: the CPU, a thread block and process
// block, the heap, memory the host owns, the modules loaded into it, and the
// system DLLs' functions as native stubs that the loader binds imports to.
// The stubs keep the process's books (handles, TLS slots, critical
// sections, modules, console output) so that what a module leaves behind
// can be checked, and they record every breach of a service's contract.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "emulated_windows/cpu/x86_emulator.hpp"
#include "emulated_windows/process/emulated_heap.hpp"
#include "emulated_windows/process/kernel_object.hpp"
#include "emulated_windows/process/virtual_clock.hpp"
#include "emulated_windows/process/virtual_memory.hpp"
#include "emulated_windows/process/windows_machine.hpp"

class loaded_module;

// What the process holds at one moment: what a module that leaves nothing
// behind gives back.
struct process_books {
  std::size_t handles = 0;
  std::size_t tls_slots = 0;
  std::size_t critical_sections = 0;
  std::size_t modules = 0;  // besides the system DLLs
  std::size_t heap_blocks = 0;
  std::uint64_t heap_bytes = 0;
  std::uint64_t virtual_bytes = 0;  // VirtualAlloc's regions
  std::size_t vectored_handlers = 0;

  bool operator==(const process_books& other) const;
  bool operator!=(const process_books& other) const { return !(*this == other); }
  // "2 handles, 1 TLS slot, 0 critical sections, 1 module, 18944 heap bytes in 3 blocks"
  // (and VirtualAlloc's bytes and vectored handlers when there are any)
  std::string describe() const;
};

class windows_process {
 public:
  explicit windows_process(const windows_machine& described = windows_machine());
  ~windows_process();
  windows_process(const windows_process&) = delete;
  windows_process& operator=(const windows_process&) = delete;

  // LoadLibrary from the host: a module already loaded under the file's name
  // gets one more reference (no second attach), else the file is mapped at
  // `base` (0: its preferred base) and attached. Throws load_error naming
  // the reason when it cannot be loaded or its DllMain refuses.
  loaded_module& load_library(const std::string& path, std::uint32_t base = 0);
  // FreeLibrary from the host: one reference less; the last one detaches
  // and unmaps the module, unless it pinned itself. False for no module.
  bool free_library(std::uint32_t handle);
  // A loaded module of native functions standing in for another DLL (given
  // with provide() under `dll`), as if the host had loaded it; its handle.
  std::uint32_t load_native_module(const std::string& dll);
  // The module loaded under `name` (a file name, any case, ".dll" optional).
  std::uint32_t module_handle(const std::string& name) const;
  // The image module containing `address`, if any.
  loaded_module* image_at(std::uint32_t address);
  // References the process holds on the module; 0 when it is not loaded.
  int module_references(std::uint32_t handle) const;
  bool module_pinned(std::uint32_t handle) const;
  // What LoadLibrary and GetModuleHandleEx do to a loaded module: one more
  // reference, or kept loaded for the process's life. False for no module.
  bool add_module_reference(std::uint32_t handle);
  bool pin_module(std::uint32_t handle);
  // The name a loaded module goes by ("KERNEL32.dll", "Velloq.dll").
  std::string module_name(std::uint32_t handle) const;

  // Memory owned by the host side: records, texts, objects. Never freed.
  std::uint32_t host_allocate(std::uint32_t size, std::uint32_t alignment = 8);
  std::uint32_t host_string(const std::string& text);

  // The system DLLs. A function is provided with the bytes its convention
  // pops (0 for cdecl); binding an import that no one provided gives a stub
  // that ends the call naming DLL!function.
  void provide(const std::string& dll, const std::string& function, std::uint16_t popped,
               stub_handler handler);
  void provide_data(const std::string& dll, const std::string& name, std::uint32_t address);
  // The address an import of dll!function is bound to. A function this
  // Windows version lacks fails the load (as its loader would), unless
  // `bind_functions_of_later_versions` is set.
  std::uint32_t bind(const std::string& dll, const std::string& function);
  // What GetProcAddress finds: a function this version of Windows exports.
  std::uint32_t find_export(std::uint32_t module, const std::string& function);
  // Calls per DLL!function so far.
  const std::map<std::string, std::uint64_t>& stub_calls() const { return stub_calls_; }

  // Kernel objects the stubs hand out: a new handle to a new object of
  // `kind`, or to `object`.
  std::uint32_t open_handle(const std::string& kind);
  std::uint32_t open_handle(std::shared_ptr<kernel_object> object);
  bool close_handle(std::uint32_t handle);
  // The object `handle` names, also for the pseudo handles of the current
  // process (-1) and thread (-2); null for none.
  std::shared_ptr<kernel_object> object_of(std::uint32_t handle) const;
  // Open handles and the kinds of their objects.
  std::map<std::uint32_t, std::string> open_handles() const;
  static constexpr std::uint32_t current_process_handle = 0xFFFFFFFF;
  static constexpr std::uint32_t current_thread_handle = 0xFFFFFFFE;

  // Thread-local storage slots (TlsAlloc): 64 in the thread block and
  // 1,024 more, as from Windows 2000 on.
  static constexpr std::uint32_t tls_slot_count = 1088;
  std::uint32_t allocate_tls_slot();  // 0xFFFFFFFF when none is free
  bool free_tls_slot(std::uint32_t index);
  bool tls_slot_in_use(std::uint32_t index) const;
  std::uint32_t tls_slot_address(std::uint32_t index) const;

  process_books books() const;

  void set_last_error(std::uint32_t code);
  // A breach of a system service's contract, seen by its stub.
  void breach(const std::string& what) { breaches.push_back(what); }
  // Text the module wrote to a console stream (1 stdout, 2 stderr, 3 the
  // debugger's output).
  void console_write(int stream, const std::string& text) { console[stream] += text; }

  x86_emulator cpu;
  emulated_heap heap;
  windows_machine machine;
  virtual_clock clock{cpu};
  virtual_memory pages{cpu};

  std::vector<std::string> breaches;
  std::map<int, std::string> console;
  std::set<std::uint32_t> critical_sections;
  std::uint32_t iob = 0;        // msvcrt's _iob: stdin, stdout, stderr records
  std::uint32_t crt_errno = 0;  // msvcrt's errno
  // Vectored exception handlers registered and not removed.
  std::size_t vectored_handlers = 0;
  // Binds imports of functions newer than the machine's version instead of
  // failing the load: for a caller that judges the imports itself.
  bool bind_functions_of_later_versions = false;

 private:
  struct provided {
    std::uint16_t popped = 0;
    stub_handler handler;
    std::uint32_t data = 0;  // a data import's address
  };
  struct module_record {
    std::string dll;  // as named, e.g. "KERNEL32.dll"
    std::uint32_t handle = 0;
    std::unique_ptr<loaded_module> image;  // null for a module of native functions
    int references = 1;
    bool pinned = false;
  };
  static std::string key(const std::string& dll, const std::string& function);
  module_record* record_of(std::uint32_t handle);
  const module_record* record_of(std::uint32_t handle) const;
  void add_system_module(const std::string& dll, std::uint32_t handle);

  std::map<std::string, provided> provided_;
  std::map<std::string, std::uint32_t> bound_;
  std::map<std::string, std::uint64_t> stub_calls_;
  std::uint32_t arena_next_;
  std::map<std::uint32_t, std::shared_ptr<kernel_object>> handles_;
  std::shared_ptr<kernel_object> current_process_ = std::make_shared<kernel_object>("process");
  std::shared_ptr<kernel_object> current_thread_ = std::make_shared<kernel_object>("thread");
  std::uint32_t next_handle_ = 0x100;
  std::vector<bool> tls_slots_;
  std::uint32_t tls_expansion_ = 0;
  std::vector<module_record> modules_;
  std::uint32_t next_native_module_ = 0x7D000000;
};

// The system DLLs' functions, a file for each DLL or (kernel32) each area.
void provide_kernel32(windows_process& process);
void provide_kernel32_memory(windows_process& process);
void provide_kernel32_synchronization(windows_process& process);
void provide_kernel32_threads(windows_process& process);
void provide_kernel32_time(windows_process& process);
void provide_kernel32_text(windows_process& process);
void provide_kernel32_process(windows_process& process);
void provide_msvcrt(windows_process& process);
void provide_msvcrt_text(windows_process& process);
void provide_user32(windows_process& process);
void provide_advapi32(windows_process& process);
void provide_shell32(windows_process& process);
void provide_winmm(windows_process& process);
// LoadLibrary, FreeLibrary, GetModuleHandle and GetProcAddress.
void provide_modules(windows_process& process);
