// Loading as each Windows loader does it, and unloading: DllMain's attach
// and detach must come back, and the module must not lean on what one
// loader gives and the other does not (static TLS, TLS callbacks).

#include "validator/checks/check_context.hpp"

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
    plugin_session session(context.file, windows_machine::of(version), base);
    loaded_at = session.module.base();
    return unload_problem(session.module.unload());
  } catch (const load_error& e) {
    return load_problem(e);
  }
}

}  // namespace

check_result check_load_xp(check_context& context) {
  if (context.options.oldest != windows_version::xp_sp3)
    return skipped("Windows XP is not among the systems asked for (--windows)");
  std::uint32_t base = 0;
  const std::string problem = load_and_unload(context, windows_version::xp_sp3, 0, base);
  if (!problem.empty())
    return failed("under Windows XP's loader (no TLS callbacks, no static TLS): " + problem);
  return passed("attached and detached at " + hex(base) +
                " with no TLS callback run and no static TLS");
}

check_result check_load_vista(check_context& context) {
  std::uint32_t base = 0;
  const std::uint32_t elsewhere = emulated_layout::relocated_base;
  const std::string problem = load_and_unload(context, windows_version::vista, elsewhere, base);
  if (!problem.empty())
    return failed("under the Vista+ loader, moved to " + hex(elsewhere) + ": " + problem);
  return passed("attached and detached with TLS callbacks and static TLS, moved to " + hex(base) +
                " through its relocations");
}
