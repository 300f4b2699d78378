// The host's process after the plug-in was loaded, used and freed again and
// again, as a host may do with a module it was told is not resident: what
// the process holds must not grow from cycle to cycle. A one-time cost (a
// module that keeps itself loaded, a runtime's first-use tables) shows in
// the first half of the cycles and is allowed.

#include <chrono>
#include <cstring>
#include <functional>

#include "emulated_windows/system_dlls/shared_gcc_runtime.hpp"
#include "host/plugin_entry_points.hpp"
#include "validator/checks/check_context.hpp"

namespace {

constexpr std::int32_t small_side = 8;

struct cycle_run {
  std::string problem;
  process_books halfway, last;
  int cycles_done = 0;
};

// One load, discovery, component, render, Release and FreeLibrary; what
// went wrong, or empty.
std::string one_cycle(plugin_host& host, const check_context& context, bool throw_inside) {
  loaded_module* module = nullptr;
  try {
    module = &host.process.load_library(context.file.path);
  } catch (const load_error& e) {
    return load_problem(e);
  }
  contract_host contract(context.file.resources());
  const std::uint32_t application = host.hosts.address_of<HostApplication>(&contract.application);
  std::uint8_t id[16];
  std::memcpy(id, effector_interface_id, 16);
  const std::uint32_t out = host.process.host_allocate(4, 4);
  host.process.cpu.write32(out, 0);
  const std::vector<std::pair<const char*, std::vector<std::uint32_t>>> calls = {
      {"_has_interface@8", {host.host_bytes(id, 16), application}},
      {"_create_interface@20", {0, 0, out, 0, 0}}};
  for (const auto& [name, args] : calls) {
    if (std::string p = return_problem(name, host.call_export(*module, name, args)); !p.empty())
      return p;
  }
  const std::uint32_t component = host.process.cpu.read32(out);
  contract.frames.push_back(std::make_unique<contract_frame>(contract.ledger, contract.application,
                                                             small_side, small_side, false));
  const std::uint32_t job = host.hosts.address_of<RenderJob>(&contract.frames.back()->job);
  const call_outcome begin = host.call_slot(component, table_slot::begin_render,
                                            call_convention::thiscall, {job, application, 0});
  if (std::string p = call_problem("begin_render (slot 205)", begin); !p.empty())
    return p;
  // The first allocation of the end hook fails: C++ plug-ins throw and
  // catch inside.
  if (throw_inside)
    host.process.heap.fail_allocation(1);
  const call_outcome end =
      host.call_slot(component, table_slot::end_render, call_convention::thiscall, {0});
  host.process.heap.fail_allocation(0);
  if (std::string p = call_problem("end_render (slot 207)", end); !p.empty())
    return p;
  const call_outcome released =
      host.call_slot(component, table_slot::release, call_convention::com_stdcall, {});
  if (std::string p = call_problem("Release (slot 2)", released); !p.empty())
    return p;
  contract.retire();
  host.process.free_library(module->base());
  return std::string();
}

cycle_run run_cycles(const check_context& context, windows_version version, bool throw_inside,
                     const std::function<std::string()>& after_each = nullptr,
                     const std::function<void(windows_process&)>& before = nullptr) {
  plugin_host host(windows_machine::of(version));
  host.process.bind_functions_of_later_versions = true;
  if (before)
    before(host.process);
  cycle_run run;
  const int cycles = std::max(2, context.options.cycles);
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    run.problem = one_cycle(host, context, throw_inside);
    if (run.problem.empty() && after_each)
      run.problem = after_each();
    if (!run.problem.empty()) {
      run.problem = "cycle " + std::to_string(cycle) + ": " + run.problem;
      if (cycle > 2)
        run.problem += "; by then, per cycle: " + run.last.describe();
      return run;
    }
    const process_books books = host.process.books();
    if (cycle == cycles / 2)
      run.halfway = books;
    run.last = books;
    run.cycles_done = cycle;
  }
  return run;
}

std::string growth(const process_books& from, const process_books& to, int cycles) {
  std::string text;
  auto add = [&](std::int64_t change, const char* what) {
    if (change == 0)
      return;
    char figure[64];
    if (change % cycles == 0)
      std::snprintf(figure, sizeof figure, "%+lld %s", static_cast<long long>(change / cycles),
                    what);
    else
      std::snprintf(figure, sizeof figure, "%+.1f %s", static_cast<double>(change) / cycles, what);
    text += (text.empty() ? "" : ", ") + std::string(figure);
  };
  add(static_cast<std::int64_t>(to.handles) - static_cast<std::int64_t>(from.handles), "handles");
  add(static_cast<std::int64_t>(to.tls_slots) - static_cast<std::int64_t>(from.tls_slots),
      "TLS slots");
  add(static_cast<std::int64_t>(to.critical_sections) -
          static_cast<std::int64_t>(from.critical_sections),
      "critical sections");
  add(static_cast<std::int64_t>(to.modules) - static_cast<std::int64_t>(from.modules), "modules");
  add(static_cast<std::int64_t>(to.heap_bytes) - static_cast<std::int64_t>(from.heap_bytes),
      "heap bytes");
  return text;
}

check_result judge_cycles(const check_context& context, bool throw_inside) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<windows_version> loaders;
  if (context.options.oldest == windows_version::xp_sp3)
    loaders.push_back(windows_version::xp_sp3);
  loaders.push_back(std::max(context.options.oldest, windows_version::vista));
  std::string detail;
  for (windows_version version : loaders) {
    const std::string way = version >= windows_version::vista ? "the Vista+ way" : "the XP way";
    const cycle_run run = run_cycles(context, version, throw_inside);
    if (!run.problem.empty())
      return failed(way + ", " + run.problem);
    const int second_half = run.cycles_done - run.cycles_done / 2;
    if (run.last != run.halfway)
      return failed(way + ": the process's books grow by " +
                    growth(run.halfway, run.last, second_half) + " per cycle (cycles " +
                    std::to_string(run.cycles_done / 2) + " to " + std::to_string(run.cycles_done) +
                    ")");
    detail += (detail.empty() ? "" : "; ") + way + ": " + run.last.describe();
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return passed(std::to_string(context.options.cycles) +
                " cycles each, unchanged over the second half (" + detail + "); " + seconds + " s");
}

}  // namespace

check_result check_residue_cycles(check_context& context) {
  return judge_cycles(context, false);
}

check_result check_residue_with_exception(check_context& context) {
  return judge_cycles(context, true);
}

check_result check_residue_beside_libgcc(check_context& context) {
  std::shared_ptr<shared_gcc_runtime> runtime;
  const windows_version version = std::max(context.options.oldest, windows_version::vista);
  windows_process* process = nullptr;
  const cycle_run run = run_cycles(
      context, version, true,
      [&]() -> std::string {
        if (!runtime->registered_frames.empty())
          return "unwind tables of the plug-in are still registered with libgcc_s_dw2-1.dll "
                 "after FreeLibrary";
        if (process->module_references(runtime->handle) != 1)
          return "the plug-in still holds " +
                 std::to_string(process->module_references(runtime->handle) - 1) +
                 " reference(s) to libgcc_s_dw2-1.dll after FreeLibrary";
        return std::string();
      },
      [&](windows_process& p) {
        process = &p;
        runtime = load_shared_gcc_runtime(p);
      });
  if (!run.problem.empty())
    return failed("beside libgcc_s_dw2-1.dll, " + run.problem);
  return passed(std::to_string(run.cycles_done) +
                " cycles beside libgcc_s_dw2-1.dll, an exception in each end hook: caught inside, "
                "nothing left registered there (" +
                std::to_string(runtime->registrations) + " registrations received)");
}
