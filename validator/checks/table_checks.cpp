// The component's whole table as the host calls it, entry by entry, with
// the layout and argument words its declarations give
// (host/component_table.hpp): where each entry points, how each operation
// comes back, that each reserved entry throws, and that the table's UUID
// is the one the exports give.

#include <cstring>

#include "host/component_table.hpp"
#include "host_kit/uuid_text.hpp"
#include "validator/checks/check_context.hpp"

namespace {

// The problems of `parts`, the first few named and the rest counted.
check_result failed_with(const std::vector<std::string>& parts) {
  constexpr std::size_t named = 3;
  std::string text;
  for (std::size_t i = 0; i < parts.size() && i < named; ++i)
    text += (text.empty() ? "" : "; ") + parts[i];
  if (parts.size() > named)
    text += "; and " + std::to_string(parts.size() - named) + " more";
  return failed(text);
}

bool is_hook(int slot) {
  return slot == table_slot::begin_render || slot == table_slot::end_render;
}

}  // namespace

VALIDATOR_CHECK(check_table_layout,
                {"table.layout",
                 "all 405 entries of the component's table (IUnknown 3, the destructor 1, the "
                 "validity query 1, plugin_interface 120 + 80 reserved, effector_interface 16 + "
                 "184 reserved) point into the module's code",
                 {"component.table"},
                 check_level::standard,
                 check_target::windows_dll}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  for (int slot = 0; slot < component_table_slots; ++slot) {
    if (const std::string what = c.target->entry_not_code(c.component, slot); !what.empty())
      return failed(entry_name(slot) + " " + what + ": the table ends before its " +
                    std::to_string(component_table_slots) + " entries, and the host's call of " +
                    "that entry jumps into whatever follows");
  }
  return passed("all " + std::to_string(component_table_slots) +
                " entries point into the module's code");
}

VALIDATOR_CHECK(
    check_table_operations,
    {"table.operations",
     "every operation of plugin_interface and effector_interface but the hooks, called with "
     "the words its declaration takes: comes back, pops them, keeps the host's registers, "
     "flags, x87 and SSE state, writes only through its pointers, answers a record's location; "
     "then the destructor (slot 3), as a host deleting the component calls it",
     {"table.layout"},
     check_level::standard,
     check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  std::vector<std::string> problems;
  int called = 0;
  for (const table_group& group : component_table_groups) {
    for (int slot = group.first_slot; slot < group.first_slot + group.count; ++slot) {
      const table_entry& entry = component_table[slot];
      // IUnknown, the destructor, the validity query and the hooks have
      // checks of their own.
      if (slot <= table_slot::is_valid || is_hook(slot) || entry.answer == entry_answer::throws)
        continue;
      ++called;
      const entry_call seen = c.target->call_entry(c.component, slot);
      if (std::string p = call_problem(entry_name(slot), seen.call); !p.empty())
        problems.push_back(p);
      else if (!seen.kept_to_locations)
        problems.push_back(entry_name(slot) + " wrote beside the memory its pointers give");
      else if (!seen.answered_location)
        problems.push_back(entry_name(slot) +
                           " answered neither its result location nor null, which the host "
                           "reads its record through");
    }
  }
  if (!problems.empty())
    return failed_with(problems);
  // A host may delete the component itself, through its destructor.
  const bool on_heap = c.target->component_alive(c.component) == true;
  const target_call destroyed = c.target->destroy(c.component);
  const std::string destructor = entry_name(table_slot::deleting_destructor);
  if (std::string p = call_problem(destructor + " with flags 1", destroyed); !p.empty())
    return failed(p);
  if (on_heap && c.target->component_alive(c.component) == true)
    return failed(destructor + " with flags 1 did not free the component");
  return passed(std::to_string(called) +
                " operations, each came back clean with the words of its declaration popped; the "
                "destructor (slot 3) came back clean and freed the component");
}

VALIDATOR_CHECK(check_table_reserved_entries,
                {"table.reserved_entries",
                 "each of the 264 reserved entries throws (its C++ exception leaves the entry) "
                 "rather than answering",
                 {"table.layout"},
                 check_level::standard,
                 check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  std::vector<std::string> problems;
  int reserved = 0;
  std::string how;
  for (int slot = 0; slot < component_table_slots; ++slot) {
    if (component_table[slot].answer != entry_answer::throws)
      continue;
    ++reserved;
    const entry_call seen = c.target->call_entry(c.component, slot);
    if (seen.call.threw) {
      if (how.empty())
        how = seen.call.fault.substr(seen.call.fault.find("lets"));
      continue;
    }
    if (seen.call.returned)
      problems.push_back(entry_name(slot) + " returned (EAX " + std::to_string(seen.call.answer) +
                         ") as if it were an operation; a reserved entry throws");
    else
      problems.push_back(call_problem(entry_name(slot), seen.call));
  }
  if (!problems.empty())
    return failed_with(problems);
  if (std::string p = c.last_release(); !p.empty())
    return failed(p);
  return passed(std::to_string(reserved) + " reserved entries, each threw (the first " + how + ")");
}

VALIDATOR_CHECK(check_table_plugin_uuid,
                {"table.plugin_uuid",
                 "get_plugin_uuid answers the UUID get_uuid gives for the effector id",
                 {"table.operations"},
                 check_level::standard,
                 check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  Uuid exported{{0, 0, 0, 0}};
  const std::string get_uuid = c.target->name_of(entry_point::get_uuid);
  if (std::string p =
          return_problem(get_uuid, c.target->get_uuid(interface_query::effector, exported));
      !p.empty())
    return failed(p);
  Uuid table_answer{{0, 0, 0, 0}};
  const entry_call seen = c.target->call_entry(c.component, table_slot::get_plugin_uuid);
  if (std::string p = return_problem(entry_name(table_slot::get_plugin_uuid), seen.call);
      !p.empty())
    return failed(p);
  if (seen.first_location.size() != sizeof table_answer)
    return failed(entry_name(table_slot::get_plugin_uuid) + " takes no result location");
  std::memcpy(&table_answer, seen.first_location.data(), sizeof table_answer);
  bool same = true;
  for (int i = 0; i < 4; ++i) same &= exported.words[i] == table_answer.words[i];
  if (!same)
    return failed(entry_name(table_slot::get_plugin_uuid) + " answered " + uuid_text(table_answer) +
                  ", " + get_uuid + " " + uuid_text(exported) +
                  ": the host takes both for the plug-in's one UUID");
  if (std::string p = c.last_release(); !p.empty())
    return failed(p);
  return passed("both answer " + uuid_text(exported));
}
