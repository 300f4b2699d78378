// The host's process after the plug-in was loaded, used and freed again and
// again, as a host may do with a module it was told is not resident: what
// the process holds must not grow from cycle to cycle. A one-time cost (a
// module that keeps itself loaded, a runtime's first-use tables) shows in
// the first half of the cycles and is allowed.
//
// A plug-in whose is_resident answers true is loaded once and never freed,
// as the host treats it: its cycles create, use and release a component in
// that one load, and only what grows with use counts.
//
// Growth that ends a host fails: TLS slots (a process has 1,088), modules,
// vectored exception handlers left pointing into freed code, and memory
// that would fill the host's 2 GiB within the loads of a long animation. A
// bounded cost (a handle and some kilobytes per load, as the static mingw
// runtime leaves) is residue.per_load_cost's, a check of the strict level:
// a warning with the fix, a failure with --strict.

#include <chrono>
#include <cstring>
#include <functional>

#include "emulated_windows/system_dlls/shared_gcc_runtime.hpp"
#include "host/plugin_entry_points.hpp"
#include "validator/windows_dll_source.hpp"

namespace {

constexpr std::int32_t small_side = 8;
// The loads a host must survive: one per frame of a long animation.
constexpr std::int64_t loads_a_host_survives = 10'000;
constexpr std::int64_t host_address_space = std::int64_t{2} << 30;
constexpr std::int64_t handles_a_process_may_hold = 1 << 24;

const char* const pin_fix =
    "keep the module loaded once loaded (GetModuleHandleEx with "
    "GET_MODULE_HANDLE_EX_FLAG_PIN from DllMain, as Velloq's plugin/pinned_module_windows.cpp "
    "does), or answer is_resident true if the host may keep it";
const char* const unwind_fix =
    "keep its unwind tables in the plug-in (Velloq's plugin/own_unwind_tables_windows.cpp, "
    "linked with -Wl,--wrap=_imp__GetModuleHandleA@4)";

struct cycle_run {
  std::string problem;
  process_books halfway, last;
  int cycles_done = 0;
  bool resident = false;
};

// One cycle as the host makes it: the load (the first time only, for a
// resident module), discovery, a component, a render, Release, and
// FreeLibrary unless the module is resident. What went wrong, or empty.
std::string one_cycle(plugin_host& host, const check_context& context, bool throw_inside,
                      loaded_module*& kept, bool& resident) {
  loaded_module* module = kept;
  if (module == nullptr) {
    try {
      module = &host.process.load_library(file_of(context).path);
    } catch (const load_error& e) {
      return load_problem(e);
    }
  }
  contract_host contract(file_of(context).resources());
  const std::uint32_t application = host.hosts.address_of<HostApplication>(&contract.application);
  std::uint8_t id[16];
  std::memcpy(id, effector_interface_id, 16);
  const std::uint32_t out = host.process.host_allocate(4, 4);
  host.process.cpu.write32(out, 0);
  const std::pair<entry_point, std::vector<std::uint32_t>> calls[] = {
      {entry_point::has_interface, {host.host_bytes(id, 16), application}},
      {entry_point::is_resident, {0, 0, 0}},
      {entry_point::create_interface, {0, 0, out, 0, 0}}};
  for (const auto& [e, args] : calls) {
    const call_outcome r = host.call_export(*module, e, args);
    if (std::string p = return_problem(facts_of(e).decorated_name, judged(r)); !p.empty())
      return p;
    if (e == entry_point::is_resident)
      resident = r.eax != 0;
  }
  const std::uint32_t component = host.process.cpu.read32(out);
  contract.frames.push_back(std::make_unique<contract_frame>(
      contract.ledger, contract.job_application, small_side, small_side, false));
  const std::uint32_t job = host.hosts.address_of<RenderJob>(&contract.frames.back()->job);
  const call_outcome begin = host.call_slot(component, table_slot::begin_render,
                                            call_convention::thiscall, {job, application, 0});
  if (std::string p = call_problem("begin_render (slot 205)", judged(begin)); !p.empty())
    return p;
  // The first allocation of the end hook fails: C++ plug-ins throw and
  // catch inside.
  if (throw_inside)
    host.process.heap.fail_allocation(1);
  const call_outcome end =
      host.call_slot(component, table_slot::end_render, call_convention::thiscall, {0});
  host.process.heap.fail_allocation(0);
  if (std::string p = call_problem("end_render (slot 207)", judged(end)); !p.empty())
    return p;
  const call_outcome released =
      host.call_slot(component, table_slot::release, call_convention::com_stdcall, {});
  if (std::string p = call_problem("Release (slot 2)", judged(released)); !p.empty())
    return p;
  contract.retire();
  if (resident) {
    kept = module;
  } else {
    host.process.free_library(module->base());
    kept = nullptr;
  }
  return std::string();
}

cycle_run run_cycles(const check_context& context, windows_version version, bool throw_inside,
                     const std::function<std::string(bool freed)>& after_each = nullptr,
                     const std::function<void(windows_process&)>& before = nullptr) {
  plugin_host host(windows_machine::of(version));
  host.process.bind_functions_of_later_versions = true;
  if (before)
    before(host.process);
  cycle_run run;
  loaded_module* kept = nullptr;
  const int cycles = std::max(2, context.options.cycles);
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    run.problem = one_cycle(host, context, throw_inside, kept, run.resident);
    if (run.problem.empty() && after_each)
      run.problem = after_each(kept == nullptr);
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

// What grew over the second half of the cycles, per cycle.
struct growth {
  std::string text;           // "1 handle, 18944 heap bytes"
  std::string host_ending;    // what of it ends a host, with why
  std::string bounded_total;  // what the bounded part comes to over a host's many loads
};

growth growth_of(const process_books& from, const process_books& to, int cycles) {
  growth g;
  std::string bounded;
  // What grew, per cycle; what shrank (a first-use cost given back) does not count.
  auto add = [&](std::int64_t change, const char* one, const char* many) {
    if (change <= 0)
      return;
    char figure[64];
    if (change % cycles == 0)
      std::snprintf(figure, sizeof figure, "%lld %s", static_cast<long long>(change / cycles),
                    change == cycles ? one : many);
    else
      std::snprintf(figure, sizeof figure, "%.1f %s", static_cast<double>(change) / cycles, many);
    g.text += (g.text.empty() ? "" : ", ") + std::string(figure);
  };
  auto difference = [](std::uint64_t a, std::uint64_t b) {
    return static_cast<std::int64_t>(b) - static_cast<std::int64_t>(a);
  };
  const std::int64_t handles = difference(from.handles, to.handles);
  const std::int64_t slots = difference(from.tls_slots, to.tls_slots);
  const std::int64_t sections = difference(from.critical_sections, to.critical_sections);
  const std::int64_t modules = difference(from.modules, to.modules);
  const std::int64_t heap = difference(from.heap_bytes, to.heap_bytes);
  const std::int64_t pages = difference(from.virtual_bytes, to.virtual_bytes);
  const std::int64_t bytes = std::max<std::int64_t>(heap, 0) + std::max<std::int64_t>(pages, 0);
  const std::int64_t handlers = difference(from.vectored_handlers, to.vectored_handlers);
  add(handles, "handle", "handles");
  add(slots, "TLS slot", "TLS slots");
  add(sections, "critical section", "critical sections");
  add(modules, "module", "modules");
  add(heap, "heap byte", "heap bytes");
  add(pages, "byte of VirtualAlloc", "bytes of VirtualAlloc");
  add(handlers, "vectored exception handler", "vectored exception handlers");
  auto ends = [&g](const std::string& why) {
    g.host_ending += (g.host_ending.empty() ? "" : "; ") + why;
  };
  if (slots > 0)
    ends("a process has 1,088 TLS slots, so after about " + std::to_string(1088 * cycles / slots) +
         " loads TlsAlloc fails for the host and every module in it");
  if (modules > 0)
    ends("modules that stay loaded fill the host's address space");
  if (handlers > 0)
    ends(
        "vectored exception handlers left registered point into freed code, and the host's next "
        "exception calls them");
  if (bytes * loads_a_host_survives / cycles >= host_address_space)
    ends("the memory fills the host's 2 GiB within " + std::to_string(loads_a_host_survives) +
         " loads");
  if (handles * loads_a_host_survives / cycles >= handles_a_process_may_hold)
    ends("the handles exceed what a process may hold within " +
         std::to_string(loads_a_host_survives) + " loads");
  g.bounded_total =
      "over " + std::to_string(loads_a_host_survives) + " loads that comes to " +
      std::to_string(bytes * loads_a_host_survives / cycles / (1 << 20)) + " MiB and " +
      std::to_string(std::max<std::int64_t>(handles, 0) * loads_a_host_survives / cycles) +
      " handles";
  return g;
}

check_result judge_cycles(check_context& context, bool throw_inside) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<windows_version> loaders;
  if (context.options.oldest == windows_version::xp_sp3)
    loaders.push_back(windows_version::xp_sp3);
  loaders.push_back(std::max(context.options.oldest, windows_version::vista));
  std::string detail, warning;
  bool resident = false;
  for (windows_version version : loaders) {
    const std::string way = version >= windows_version::vista ? "the Vista+ way" : "the XP way";
    const cycle_run run = run_cycles(context, version, throw_inside);
    resident = run.resident;
    if (!run.problem.empty())
      return failed(way + ", " + run.problem);
    const int second_half = run.cycles_done - run.cycles_done / 2;
    const std::string cycles = " per cycle (cycles " + std::to_string(run.cycles_done / 2) +
                               " to " + std::to_string(run.cycles_done) + ")";
    const std::string what = resident ? "each use of a component (is_resident: the host keeps "
                                        "the module loaded)"
                                      : "each load and FreeLibrary";
    const growth g = growth_of(run.halfway, run.last, second_half);
    if (!g.host_ending.empty())
      return failed(way + ": " + what + " leaves " + g.text + " behind" + cycles +
                    ", which in time ends the host: " + g.host_ending + ". Fix: " + pin_fix);
    if (!g.text.empty() && warning.empty())
      warning = way + (throw_inside ? " with an exception inside" : "") + ": " + what + " leaves " +
                g.text + " behind" + cycles + "; " + g.bounded_total + ". Fix: " + pin_fix;
    detail += (detail.empty() ? "" : "; ") + way + ": " + run.last.describe();
  }
  // A bounded cost is residue.per_load_cost's to judge.
  if (!warning.empty())
    context.per_load_costs.push_back(warning);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return passed(
      std::to_string(context.options.cycles) + " cycles each" +
      (resident ? " in one load (is_resident answers true: the host never frees it)" : "") +
      (warning.empty() ? ", nothing grew over the second half ("
                       : ", nothing that ends a host grew (a bounded cost per load: "
                         "residue.per_load_cost; ") +
      detail + "); " + seconds + " s");
}

}  // namespace

VALIDATOR_CHECK(
    check_residue_cycles,
    {"residue.cycles",
     "repeated load, use and FreeLibrary, the XP and the Vista+ way: nothing grows that ends a "
     "host (TLS slots, modules, vectored handlers, memory that fills 2 GiB within 10,000 loads)",
     {"render.hooks"},
     check_level::standard,
     check_target::windows_dll}) {
  return judge_cycles(context, false);
}

VALIDATOR_CHECK(
    check_residue_with_exception,
    {"residue.cycles_with_exception",
     "the same with the first allocation of each end hook failing (an exception inside)",
     {"render.hooks"},
     check_level::standard,
     check_target::windows_dll}) {
  return judge_cycles(context, true);
}

VALIDATOR_CHECK(check_residue_beside_libgcc,
                {"residue.beside_libgcc",
                 "with another module's libgcc_s_dw2-1.dll loaded: exceptions inside still caught, "
                 "nothing left registered there after FreeLibrary",
                 {"render.hooks"},
                 check_level::standard,
                 check_target::windows_dll}) {
  std::shared_ptr<shared_gcc_runtime> runtime;
  const windows_version version = std::max(context.options.oldest, windows_version::vista);
  windows_process* process = nullptr;
  const cycle_run run = run_cycles(
      context, version, true,
      [&](bool freed) -> std::string {
        if (freed && !runtime->registered_frames.empty())
          return "unwind tables of the plug-in are still registered with libgcc_s_dw2-1.dll "
                 "after FreeLibrary, where that DLL's next exception reads freed memory. Fix: " +
                 std::string(unwind_fix);
        if (freed && process->module_references(runtime->handle) != 1)
          return "the plug-in still holds " +
                 std::to_string(process->module_references(runtime->handle) - 1) +
                 " reference(s) to libgcc_s_dw2-1.dll after FreeLibrary";
        return std::string();
      },
      [&](windows_process& p) {
        process = &p;
        runtime = load_shared_gcc_runtime(p);
      });
  if (!run.problem.empty()) {
    const bool registered = runtime->registrations != 0;
    return failed("beside libgcc_s_dw2-1.dll, " + run.problem +
                  (registered && run.problem.find("Fix:") == std::string::npos
                       ? ". The plug-in's start-up registered its unwind tables with that DLL, "
                         "so its own exceptions find no handler there. Fix: " +
                             std::string(unwind_fix)
                       : std::string()));
  }
  context.libgcc_registrations = runtime->registrations;
  return passed(std::to_string(run.cycles_done) +
                " cycles beside libgcc_s_dw2-1.dll, an allocation failing in each end hook: "
                "exceptions inside caught, nothing left behind" +
                (runtime->registrations != 0 ? " (its unwind tables went to that DLL: "
                                               "residue.libgcc_registration)"
                                             : ""));
}

VALIDATOR_CHECK(check_residue_per_load_cost,
                {"residue.per_load_cost",
                 "the cycles of residue.cycles and residue.cycles_with_exception leave nothing "
                 "behind at all, not even a bounded cost per load (a handle, some kilobytes)",
                 {"residue.cycles", "residue.cycles_with_exception"},
                 check_level::strict,
                 check_target::windows_dll}) {
  if (!context.per_load_costs.empty()) {
    std::string text;
    for (const std::string& cost : context.per_load_costs)
      text += (text.empty() ? "" : "; ") + cost;
    return failed(text);
  }
  return passed("no cost per load");
}

VALIDATOR_CHECK(check_residue_libgcc_registration,
                {"residue.libgcc_registration",
                 "beside another module's libgcc_s_dw2-1.dll, the plug-in keeps its unwind "
                 "tables to itself",
                 {"residue.beside_libgcc"},
                 check_level::strict,
                 check_target::windows_dll}) {
  // Tables that went there are a hazard even when no exception showed it:
  // the plug-in's first exception that is not caught at once may find no
  // handler.
  if (context.libgcc_registrations != 0)
    return failed(
        "the plug-in's start-up registered its unwind tables with "
        "libgcc_s_dw2-1.dll " +
        std::to_string(context.libgcc_registrations) +
        " time(s), so an exception inside it would find no handler there and end the "
        "host (none escaped here). Fix: " +
        unwind_fix);
  return passed("nothing registered with libgcc_s_dw2-1.dll");
}
