#pragma once
// Loads a DLL into an emulated process as the Windows loader of the
// process's version does: the image mapped at its preferred base or moved
// with its relocations, every import bound to the process's stubs, then
// (Vista on) the static TLS block and the TLS callbacks, and DllMain with
// DLL_PROCESS_ATTACH. Windows 2000 and XP give a DLL loaded at run time
// neither: its TLS callbacks never run and its _tls_index stays as the file
// has it. Unloading calls DLL_PROCESS_DETACH and lists what the module left
// behind. windows_process::load_library and free_library drive it.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulated_windows/process/pe_file.hpp"
#include "emulated_windows/process/windows_process.hpp"

struct load_error : std::runtime_error {
  explicit load_error(const std::string& what, std::string missing = std::string())
      : std::runtime_error(what), missing_function(std::move(missing)) {}
  // "DLL!function" when DllMain or a TLS callback stopped at a function the
  // emulated Windows does not provide: its gap, not the module's fault.
  std::string missing_function;
};

class loaded_module {
 public:
  // Maps the image and binds its imports; throws load_error naming the
  // reason when it cannot. `base` 0: the preferred base.
  loaded_module(windows_process& process, const std::string& path, std::uint32_t base = 0);

  // TLS callbacks (Vista on), then DllMain(DLL_PROCESS_ATTACH); throws
  // load_error when one fails or DllMain refuses.
  void attach();

  // The address of an export, by its exact name; 0 when there is none.
  std::uint32_t export_address(const std::string& name) const;
  const std::map<std::string, std::uint32_t>& exports() const { return exports_; }
  const std::string& export_module_name() const { return module_name_; }
  std::uint32_t base() const { return base_; }
  std::uint32_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // DLL_PROCESS_DETACH, then what is left behind: every problem found
  // (failed detach, handles opened after the attach and still open, TLS
  // slots, critical sections not deleted, heap misuse, contract breaches).
  // Handles the attach opened and the detach left open, and live heap
  // blocks, are listed apart.
  struct unload_report {
    std::vector<std::string> problems;
    std::vector<std::string> handles_left_from_attach;
    std::map<std::uint32_t, std::uint32_t> leaked_blocks;
    // As load_error's, for the detach.
    std::string missing_function;
  };
  unload_report unload();
  // Gives the image's memory back; nothing may call into it afterwards.
  void unmap();

 private:
  void map_image(const pe_file& image);
  void relocate(const pe_file& image);
  void bind_imports(const pe_file& image);
  void set_up_tls(const pe_file& image);
  // TLS callbacks, then the entry point; the entry point's outcome.
  call_outcome notify(std::uint32_t reason);

  windows_process& process_;
  std::string path_;
  std::uint32_t base_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t entry_ = 0;
  std::uint32_t preferred_base_ = 0;
  std::map<std::string, std::uint32_t> exports_;
  std::string module_name_;
  std::vector<std::uint32_t> tls_callbacks_;
  std::vector<std::string> notify_problems_;
  std::string notify_missing_;  // the first function a notification missed
  std::map<std::uint32_t, std::string> handles_after_attach_;
  bool attached_ = false;
  bool mapped_ = false;
};
