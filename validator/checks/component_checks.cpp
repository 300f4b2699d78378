// The component create_interface hands out: its one reference, the table's
// first slots as the host calls them, QueryInterface and the counts.

#include "validator/checks/check_context.hpp"

namespace {

constexpr std::uint32_t s_ok = 0, e_nointerface = 0x80004002u;

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, value > 0xFFFFFFFFu ? "0x%016llX" : "0x%08llX",
                static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

VALIDATOR_CHECK(check_component_create,
                {"component.create",
                 "create_interface stores a component holding one reference",
                 {"exports.names"},
                 check_level::standard,
                 check_target::any_plugin}) {
  const auto s = context.target();
  const std::string create = s->name_of(entry_point::create_interface);
  component_ref component = 0;
  bool kept = true;
  const target_call r = s->create_interface(component, kept);
  if (std::string p = return_problem(create, r); !p.empty())
    return failed(p);
  if (!kept)
    return failed(create + " wrote outside the four bytes of its third argument");
  if (component == 0)
    return failed(create + " stored no component through its third argument");
  if (r.answer != 1)
    return failed(create + " answered " + std::to_string(r.answer) +
                  ", not 1, the count of the one reference the host gets");
  const target_call released = s->release(component);
  if (std::string p = call_problem("Release (slot 2)", released); !p.empty())
    return failed(p);
  if (released.answer != 0)
    return failed("the host's one Release answered " + std::to_string(released.answer) +
                  ": the component holds more than the one reference it handed out");
  return passed("a component at " + hex(component) + " holding one reference");
}

VALIDATOR_CHECK(
    check_component_table,
    {"component.table",
     "the table's first slots as the host calls them: AddRef and Release (COM), the one-slot "
     "destructor, the validity query at slot 4",
     {"component.create"},
     check_level::standard,
     check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  const target_call r = c.target->is_valid(c.component);
  if (c.target->component_alive(c.component) == false)
    return failed(
        "slot 4, the validity query, destroyed the component: its table holds a two-slot "
        "virtual destructor (GCC's), which moves every later slot by one; the host's interfaces "
        "have the one-slot deleting destructor at slot 3");
  if (std::string p = call_problem("the validity query (slot 4)", r); !p.empty())
    return failed(p);
  if (r.answer != 1)
    return failed("the validity query (slot 4) answered false");
  for (const std::string& p : {c.add_ref(2), c.release(1), c.release(0)}) {
    if (!p.empty())
      return failed(p);
  }
  return passed("AddRef and Release at slots 1 and 2 (COM), the validity query at slot 4 true");
}

VALIDATOR_CHECK(
    check_query_interface,
    {"component.query_interface",
     "QueryInterface answers or refuses IUnknown and the effector id cleanly, refuses another "
     "id, leaves no reference",
     {"component.table"},
     check_level::standard,
     check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  plugin_target& s = *c.target;
  struct query {
    const char* what;
    interface_query id;
    bool may_answer;
  };
  std::string seen;
  for (const query& q : {query{"IUnknown", interface_query::iunknown, true},
                         query{"the effector id", interface_query::effector, true},
                         query{"another id", interface_query::another, false}}) {
    component_ref written = 0;
    bool kept = true;
    const target_call r = s.query_interface(c.component, q.id, written, kept);
    const std::string what = std::string("QueryInterface (slot 0) for ") + q.what;
    if (std::string p = call_problem(what, r); !p.empty())
      return failed(p);
    if (!kept)
      return failed(what + " wrote outside its out-pointer");
    if (r.answer == s_ok && q.may_answer) {
      if (written != c.component)
        return failed(what + " answered S_OK with " + hex(written) + ", not the component");
      // The reference it added goes back.
      if (std::string p = c.release(1); !p.empty())
        return failed(what + " answered S_OK without adding a reference: " + p);
      seen += std::string(seen.empty() ? "" : ", ") + q.what + " answered";
    } else if (r.answer == e_nointerface || (!q.may_answer && (r.answer & 0x80000000u) != 0)) {
      if (written != 0 && written != 0xABABABABu)
        return failed(what + " refused but stored " + hex(written));
      seen += std::string(seen.empty() ? "" : ", ") + q.what + " refused";
    } else {
      return failed(what + " answered " + hex(r.answer));
    }
  }
  // No reference may be left over: one AddRef and two Releases end it.
  for (const std::string& p : {c.add_ref(2), c.release(1), c.release(0)}) {
    if (!p.empty())
      return failed("after QueryInterface: " + p);
  }
  return passed(seen + "; no reference left");
}

VALIDATOR_CHECK(check_reference_counts,
                {"component.reference_counts",
                 "AddRef and Release count up and down; the last Release frees the component",
                 {"component.table"},
                 check_level::standard,
                 check_target::any_plugin}) {
  target_with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  const bool on_heap = c.target->component_alive(c.component) == true;
  for (const std::string& p :
       {c.add_ref(2), c.add_ref(3), c.release(2), c.release(1), c.release(0)}) {
    if (!p.empty())
      return failed(p);
  }
  if (on_heap && c.target->component_alive(c.component) == true)
    return failed("the last Release answered 0 but the component's memory was not freed");
  if (!on_heap)
    return passed(
        "AddRef 2, 3; Release 2, 1, 0 (whether the last one freed the component, the "
        "sanitizers tell here)");
  return passed("AddRef 2, 3; Release 2, 1, 0, and the last one freed the component");
}
