// The component create_interface hands out: its one reference, the table's
// first slots as the host calls them, QueryInterface and the counts.

#include "validator/checks/check_context.hpp"

namespace {

constexpr std::uint32_t s_ok = 0, e_nointerface = 0x80004002u;
// IID_IUnknown, {00000000-0000-0000-C000-000000000046}, in GUID byte layout.
constexpr std::uint8_t iunknown_id[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// A session with one component; a reason in `problem` when none came.
struct with_component {
  explicit with_component(check_context& context) : session(context.session()) {
    call_outcome created;
    component = session->create_component(created);
    problem = return_problem("_create_interface@20", created);
    if (problem.empty() && component == 0)
      problem = "_create_interface@20 stored no component";
  }
  // `slot` answering `expected`; the problem, or empty.
  std::string expect(int slot, const char* what, std::uint32_t expected) {
    const call_outcome r = session->call_slot(component, slot, {});
    if (std::string p = call_problem(what, r); !p.empty())
      return p;
    if (r.eax != expected)
      return std::string(what) + " answered " + std::to_string(r.eax) + ", not " +
             std::to_string(expected);
    return std::string();
  }
  std::unique_ptr<plugin_session> session;
  std::uint32_t component = 0;
  std::string problem;
};

}  // namespace

VALIDATOR_CHECK(check_component_create,
                {"component.create",
                 "create_interface stores a component holding one reference",
                 {"exports.names"},
                 check_level::standard,
                 check_target::any_plugin}) {
  const auto s = context.session();
  const std::uint32_t out = s->guarded_location(4);
  s->host.process.cpu.write32(out, 0);
  const call_outcome r = s->call_export("_create_interface@20", {0, 0, out, 0, 0});
  if (std::string p = return_problem("_create_interface@20", r); !p.empty())
    return failed(p);
  const std::uint32_t component = s->host.process.cpu.read32(out);
  if (!s->guards_kept(out, 4))
    return failed("_create_interface@20 wrote outside the four bytes of its third argument");
  if (component == 0)
    return failed("_create_interface@20 stored no component through its third argument");
  if (r.eax != 1)
    return failed("_create_interface@20 answered " + std::to_string(r.eax) +
                  ", not 1, the count of the one reference the host gets");
  const call_outcome released = s->call_slot(component, table_slot::release, {});
  if (std::string p = call_problem("Release (slot 2)", released); !p.empty())
    return failed(p);
  if (released.eax != 0)
    return failed("the host's one Release answered " + std::to_string(released.eax) +
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
  with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  const call_outcome r = c.session->call_slot(c.component, table_slot::is_valid, {});
  if (!c.session->component_alive(c.component))
    return failed(
        "slot 4, the validity query, destroyed the component: its table holds a two-slot "
        "virtual destructor (GCC's), which moves every later slot by one; the host's interfaces "
        "have the one-slot deleting destructor at slot 3");
  if (std::string p = call_problem("the validity query (slot 4)", r); !p.empty())
    return failed(p);
  if ((r.eax & 0xFF) != 1)
    return failed("the validity query (slot 4) answered false");
  for (const std::string& p : {c.expect(table_slot::add_ref, "AddRef (slot 1)", 2),
                               c.expect(table_slot::release, "Release (slot 2)", 1),
                               c.expect(table_slot::release, "Release (slot 2)", 0)}) {
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
  with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  plugin_session& s = *c.session;
  struct query {
    const char* what;
    std::uint32_t id;
    bool may_answer;
  };
  std::string seen;
  for (const query& q : {query{"IUnknown", s.host.host_bytes(iunknown_id, 16), true},
                         query{"the effector id", s.interface_id(true), true},
                         query{"another id", s.interface_id(false), false}}) {
    const std::uint32_t out = s.guarded_location(4);
    const call_outcome r = s.call_slot(c.component, table_slot::query_interface, {q.id, out});
    const std::string what = std::string("QueryInterface (slot 0) for ") + q.what;
    if (std::string p = call_problem(what, r); !p.empty())
      return failed(p);
    const std::uint32_t written = s.host.process.cpu.read32(out);
    if (!s.guards_kept(out, 4))
      return failed(what + " wrote outside its out-pointer");
    if (r.eax == s_ok && q.may_answer) {
      if (written != c.component)
        return failed(what + " answered S_OK with " + hex(written) + ", not the component");
      // The reference it added goes back.
      if (std::string p = c.expect(table_slot::release, "Release (slot 2)", 1); !p.empty())
        return failed(what + " answered S_OK without adding a reference: " + p);
      seen += std::string(seen.empty() ? "" : ", ") + q.what + " answered";
    } else if (r.eax == e_nointerface || (!q.may_answer && (r.eax & 0x80000000u) != 0)) {
      if (written != 0 && written != 0xABABABABu)
        return failed(what + " refused but stored " + hex(written));
      seen += std::string(seen.empty() ? "" : ", ") + q.what + " refused";
    } else {
      return failed(what + " answered " + hex(r.eax));
    }
  }
  // No reference may be left over: one AddRef and two Releases end it.
  for (const std::string& p : {c.expect(table_slot::add_ref, "AddRef (slot 1)", 2),
                               c.expect(table_slot::release, "Release (slot 2)", 1),
                               c.expect(table_slot::release, "Release (slot 2)", 0)}) {
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
  with_component c(context);
  if (!c.problem.empty())
    return failed(c.problem);
  const bool on_heap = c.session->component_alive(c.component);
  for (const std::string& p : {c.expect(table_slot::add_ref, "AddRef (slot 1)", 2),
                               c.expect(table_slot::add_ref, "AddRef (slot 1)", 3),
                               c.expect(table_slot::release, "Release (slot 2)", 2),
                               c.expect(table_slot::release, "Release (slot 2)", 1),
                               c.expect(table_slot::release, "Release (slot 2)", 0)}) {
    if (!p.empty())
      return failed(p);
  }
  if (on_heap && c.session->component_alive(c.component))
    return failed("the last Release answered 0 but the component's memory was not freed");
  return passed("AddRef 2, 3; Release 2, 1, 0, and the last one freed the component");
}
