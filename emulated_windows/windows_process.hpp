#pragma once
// One emulated 32-bit Windows process: the CPU, a thread block and process
// block, the heap, memory the host owns, and the system DLLs' functions as
// native stubs that the loader binds imports to. The stubs keep the
// process's books (handles, TLS slots, critical sections, console output)
// so that what a module leaves behind can be checked, and they record
// every breach of a service's contract.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "emulated_windows/emulated_heap.hpp"
#include "emulated_windows/windows_machine.hpp"
#include "emulated_windows/x86_emulator.hpp"

class windows_process {
 public:
  explicit windows_process(const windows_machine& described = windows_machine());
  windows_process(const windows_process&) = delete;
  windows_process& operator=(const windows_process&) = delete;

  // Memory owned by the host side: records, texts, objects. Never freed.
  std::uint32_t host_allocate(std::uint32_t size, std::uint32_t alignment = 8);
  std::uint32_t host_string(const std::string& text);

  // The system DLLs. A function is provided with the bytes its convention
  // pops (0 for cdecl); binding an import that no one provided gives a stub
  // that ends the call naming DLL!function.
  void provide(const std::string& dll, const std::string& function, std::uint16_t popped,
               stub_handler handler);
  void provide_data(const std::string& dll, const std::string& name, std::uint32_t address);
  std::uint32_t bind(const std::string& dll, const std::string& function);
  // Whether GetProcAddress on a system module finds `function`.
  bool exported_by_system(const std::string& dll, const std::string& function) const;
  // Calls per DLL!function so far.
  const std::map<std::string, std::uint64_t>& stub_calls() const { return stub_calls_; }

  // Kernel objects the stubs hand out.
  std::uint32_t open_handle(const std::string& kind);
  bool close_handle(std::uint32_t handle);
  // Open handles and what they are.
  const std::map<std::uint32_t, std::string>& open_handles() const { return handles_; }

  void set_last_error(std::uint32_t code);
  // A breach of a system service's contract, seen by its stub.
  void breach(const std::string& what) { breaches.push_back(what); }
  // Text the module wrote to a console stream (1 stdout, 2 stderr).
  void console_write(int stream, const std::string& text) { console[stream] += text; }

  x86_emulator cpu;
  emulated_heap heap;
  windows_machine machine;

  std::vector<std::string> breaches;
  std::map<int, std::string> console;
  std::uint64_t tls_slots_in_use = 0;  // bit per TlsAlloc slot
  std::set<std::uint32_t> critical_sections;
  std::uint32_t iob = 0;  // msvcrt's _iob: stdin, stdout, stderr records

  static constexpr std::uint32_t tls_slot_count = 64;
  static constexpr std::uint32_t tls_slots_offset = 0xE10;

 private:
  struct provided {
    std::uint16_t popped = 0;
    stub_handler handler;
    std::uint32_t data = 0;  // a data import's address
  };
  static std::string key(const std::string& dll, const std::string& function);

  std::map<std::string, provided> provided_;
  std::map<std::string, std::uint32_t> bound_;
  std::map<std::string, std::uint64_t> stub_calls_;
  std::uint32_t arena_next_;
  std::map<std::uint32_t, std::string> handles_;
  std::uint32_t next_handle_ = 0x100;
};

// The system DLLs' functions, one file each.
void provide_kernel32(windows_process& process);
void provide_msvcrt(windows_process& process);
void provide_user32(windows_process& process);
