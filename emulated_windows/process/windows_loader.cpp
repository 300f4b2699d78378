#include "emulated_windows/process/windows_loader.hpp"

#include "emulated_windows/process/windows_functions.hpp"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint32_t dll_process_detach = 0;
constexpr std::uint32_t dll_process_attach = 1;
constexpr std::uint32_t teb_tls_pointer = 0x2C;

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

loaded_module::loaded_module(windows_process& process, const std::string& path, std::uint32_t base)
    : process_(process), path_(path) {
  const pe_file image = [&] {
    try {
      return pe_file::read(path);
    } catch (const pe_format_error& e) {
      throw load_error("cannot load " + path + ": " + e.what());
    }
  }();
  preferred_base_ = image.headers().image_base;
  base_ = base != 0 ? base : preferred_base_;
  size_ = image.headers().size_of_image;
  entry_ = image.headers().entry_point != 0 ? base_ + image.headers().entry_point : 0;
  try {
    if (image.headers().machine != 0x014C)
      throw load_error("not a 32-bit x86 image");
    map_image(image);
    mapped_ = true;
    relocate(image);
    bind_imports(image);
    set_up_tls(image);
    for (const std::string& name : image.export_names()) {
      exports_[name] = base_ + image.export_rva(name).value();
    }
    module_name_ = image.export_module_name();
  } catch (const std::exception& e) {
    unmap();
    throw load_error("cannot load " + path + ": " + e.what());
  }
}

void loaded_module::attach() {
  const call_outcome attached = notify(dll_process_attach);
  if (!attached.clean() || attached.eax == 0 || !notify_problems_.empty()) {
    std::string why = "DllMain(DLL_PROCESS_ATTACH) " + attached.describe();
    for (const std::string& problem : notify_problems_) why += "; " + problem;
    throw load_error("cannot load " + path_ + ": " + why, !attached.missing_function.empty()
                                                              ? attached.missing_function
                                                              : notify_missing_);
  }
  attached_ = true;
  handles_after_attach_ = process_.open_handles();
}

void loaded_module::unmap() {
  if (mapped_)
    process_.cpu.unmap(base_, size_);
  mapped_ = false;
}

void loaded_module::map_image(const pe_file& image) {
  process_.cpu.map(base_, size_);
  const std::vector<unsigned char>& file = image.bytes();
  if (image.headers().size_of_headers > std::min<std::size_t>(file.size(), size_))
    throw load_error("headers larger than the file or the image");
  process_.cpu.write(base_, file.data(), image.headers().size_of_headers);
  for (const pe_section& s : image.sections()) {
    const std::uint32_t length =
        s.virtual_size != 0 ? std::min(s.raw_size, s.virtual_size) : s.raw_size;
    if (std::uint64_t{s.virtual_address} + length > size_)
      throw load_error("section " + s.name + " lies outside the image");
    process_.cpu.write(base_ + s.virtual_address, file.data() + s.raw_offset, length);
  }
}

void loaded_module::relocate(const pe_file& image) {
  const std::uint32_t delta = base_ - preferred_base_;
  if (delta == 0)
    return;
  const std::vector<std::uint32_t> words = image.base_relocations();
  if (words.empty())
    throw load_error("the image must move but has no relocations");
  for (std::uint32_t rva : words) {
    process_.cpu.write32(base_ + rva, process_.cpu.read32(base_ + rva) + delta);
  }
}

void loaded_module::bind_imports(const pe_file& image) {
  for (const pe_import_module& module : image.imports()) {
    // A DLL that Windows does not ship must be in the process already.
    if (const char* runtime = gcc_runtime_dll(module.dll);
        runtime != nullptr && process_.module_handle(module.dll) == 0)
      throw load_error("it needs " + module.dll + " (" + runtime +
                       "), which Windows does not ship and no module of the process has loaded");
    for (std::size_t i = 0; i < module.functions.size(); ++i) {
      process_.cpu.write32(base_ + module.address_slots[i],
                           process_.bind(module.dll, module.functions[i]));
    }
  }
}

void loaded_module::set_up_tls(const pe_file& image) {
  const std::optional<pe_tls_directory> directory = image.tls();
  // Windows 2000 and XP give static TLS only to the modules present when
  // the process starts, and run TLS callbacks only for those.
  if (!directory || !process_.machine.runs_tls_callbacks())
    return;
  const std::uint32_t delta = base_ - preferred_base_;
  const pe_tls_directory& tls = *directory;
  // This module gets slot 0 of the static TLS array: its index goes where
  // the directory says, the block holds its template and zero fill.
  const std::uint32_t template_size = tls.raw_data_end - tls.raw_data_start;
  const std::uint32_t block = process_.host_allocate(template_size + tls.zero_fill + 4, 16);
  if (template_size != 0) {
    process_.cpu.write(block,
                       process_.cpu.read_bytes(tls.raw_data_start + delta, template_size).data(),
                       template_size);
  }
  const std::uint32_t array = process_.host_allocate(4, 4);
  process_.cpu.write32(array, block);
  process_.cpu.write32(emulated_layout::thread_block + teb_tls_pointer, array);
  if (tls.index_address != 0)
    process_.cpu.write32(tls.index_address + delta, 0);
  if (tls.callbacks_address != 0) {
    for (std::uint32_t at = tls.callbacks_address + delta;; at += 4) {
      const std::uint32_t callback = process_.cpu.read32(at);
      if (callback == 0)
        break;
      tls_callbacks_.push_back(callback);
    }
  }
}

call_outcome loaded_module::notify(std::uint32_t reason) {
  notify_problems_.clear();
  notify_missing_.clear();
  const std::vector<std::uint32_t> args{base_, reason, 0};
  for (std::uint32_t callback : tls_callbacks_) {
    const call_outcome outcome = process_.cpu.call(callback, call_convention::stdcall, 0, args);
    if (!outcome.clean())
      notify_problems_.push_back("TLS callback " + hex(callback) + " " + outcome.describe());
    if (notify_missing_.empty())
      notify_missing_ = outcome.missing_function;
  }
  if (entry_ == 0) {
    call_outcome none;
    none.returned = true;
    none.eax = 1;
    return none;
  }
  return process_.cpu.call(entry_, call_convention::stdcall, 0, args);
}

std::uint32_t loaded_module::export_address(const std::string& name) const {
  const auto it = exports_.find(name);
  return it == exports_.end() ? 0 : it->second;
}

loaded_module::unload_report loaded_module::unload() {
  unload_report report;
  if (!attached_) {
    report.problems.push_back("unloaded twice");
    return report;
  }
  attached_ = false;
  const call_outcome detach = notify(dll_process_detach);
  if (!detach.clean())
    report.problems.push_back("DllMain(DLL_PROCESS_DETACH) " + detach.describe());
  report.missing_function =
      !detach.missing_function.empty() ? detach.missing_function : notify_missing_;
  for (const std::string& problem : notify_problems_) report.problems.push_back(problem);
  for (const auto& [handle, kind] : process_.open_handles()) {
    const std::string what = kind + " handle " + hex(handle);
    if (handles_after_attach_.count(handle) != 0)
      report.handles_left_from_attach.push_back(what);
    else
      report.problems.push_back("left open: " + what);
  }
  for (std::uint32_t slot = 0; slot < windows_process::tls_slot_count; ++slot) {
    if (process_.tls_slot_in_use(slot))
      report.problems.push_back("TLS slot " + std::to_string(slot) + " still allocated");
  }
  for (std::uint32_t section : process_.critical_sections)
    report.problems.push_back("critical section never deleted: " + hex(section));
  for (const std::string& problem : process_.heap.problems) report.problems.push_back(problem);
  for (const std::string& breach : process_.breaches) report.problems.push_back(breach);
  report.leaked_blocks = process_.heap.live_blocks();
  return report;
}
