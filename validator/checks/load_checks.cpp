// Loading as each Windows loader does it, and unloading: DllMain's attach
// and detach must come back, and the module must not lean on what one
// loader gives and the other does not (static TLS, TLS callbacks).

#include "validator/windows_dll_source.hpp"

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Loads, then detaches as at the process's end (a pinned module is never
// detached earlier); what went wrong, or empty.
std::string load_and_unload(check_context& context, windows_version version, std::uint32_t base,
                            std::uint32_t& loaded_at) {
  try {
    emulated_plugin session(file_of(context), windows_machine::of(version), base);
    loaded_at = session.module().base();
    return session.unload();
  } catch (const load_error& e) {
    return load_problem(e);
  }
}

}  // namespace

VALIDATOR_CHECK(
    check_load_xp,
    {"load.xp",
     "loads the XP way (no TLS callbacks, no static TLS); DllMain's attach and detach return",
     {"file.format"},
     check_level::standard,
     check_target::windows_dll}) {
  if (context.options.oldest != windows_version::xp_sp3)
    return skipped("Windows XP is not among the systems asked for (--windows)");
  std::uint32_t base = 0;
  const std::string problem = load_and_unload(context, windows_version::xp_sp3, 0, base);
  if (!problem.empty())
    return failed("under Windows XP's loader (no TLS callbacks, no static TLS): " + problem);
  return passed("attached and detached at " + hex(base) +
                " with no TLS callback run and no static TLS");
}

VALIDATOR_CHECK(
    check_load_vista,
    {"load.vista",
     "loads the Vista+ way (TLS callbacks, static TLS), moved through its relocations; attach "
     "and detach return",
     {"file.relocations"},
     check_level::standard,
     check_target::windows_dll}) {
  std::uint32_t base = 0;
  const std::uint32_t elsewhere = emulated_layout::relocated_base;
  const std::string problem = load_and_unload(context, windows_version::vista, elsewhere, base);
  if (!problem.empty())
    return failed("under the Vista+ loader, moved to " + hex(elsewhere) + ": " + problem);
  return passed("attached and detached with TLS callbacks and static TLS, moved to " + hex(base) +
                " through its relocations");
}
