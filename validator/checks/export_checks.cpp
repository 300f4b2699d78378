// The eight exports, found by their decorated names and called as an
// MSVC-built host calls them.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/plugin_entry_points.hpp"
#include "host_kit/uuid_text.hpp"
#include "validator/windows_dll_source.hpp"

namespace {

constexpr std::uint16_t host_control_words[] = {
    0x027F,  // how Windows starts a thread: 53-bit precision, all masked
    0x0272,  // a host catching its own faults: invalid, zero-divide, overflow unmasked
};

// The UUID in 16 bytes the plug-in wrote.
std::string uuid_text(const std::vector<std::uint8_t>& bytes) {
  Uuid uuid;
  std::memcpy(uuid.words, bytes.data(), 16);
  return uuid_text(uuid);
}

// Every export once, with arguments a host passes.
std::vector<std::string> call_every_export(emulated_plugin& s) {
  std::vector<std::string> problems;
  const std::uint32_t out = s.guarded_location(24);
  const std::uint32_t effector = s.interface_id(interface_query::effector);
  const std::pair<entry_point, std::vector<std::uint32_t>> calls[] = {
      {entry_point::has_interface, {effector, s.application()}},
      {entry_point::get_name, {effector, 0, s.application(), 0}},
      {entry_point::get_uuid, {out, effector, 0, 0}},
      {entry_point::get_interface_version, {0}},
      {entry_point::get_info, {out, 0, 0}},
      {entry_point::is_resident, {0, 0, 0}},
      {entry_point::has_separate_interfaces, {0}},
      {entry_point::create_interface, {0, 0, out, 0, 0}},
  };
  for (const auto& [e, args] : calls) {
    const call_outcome r = s.call_export(e, args);
    if (const std::string problem = call_problem(s.name_of(e), judged(r)); !problem.empty()) {
      problems.push_back(problem);
      continue;
    }
    if (e == entry_point::create_interface && r.eax != 0)
      s.call_slot(s.read32(out), table_slot::release, {});
  }
  return problems;
}

}  // namespace

VALIDATOR_CHECK(check_export_names, {"exports.names",
                                     "the eight decorated exports",
                                     {"file.format"},
                                     check_level::standard,
                                     check_target::windows_dll}) {
  const auto session = session_of(context);
  std::string missing;
  for (const entry_point_facts& e : entry_point_table) {
    if (session->module().export_address(e.decorated_name) == 0)
      missing += std::string(missing.empty() ? "" : ", ") + e.decorated_name;
  }
  if (!missing.empty())
    return failed("exports no " + missing);
  return passed("the eight entry points, in " + session->module().export_module_name());
}

VALIDATOR_CHECK(
    check_export_calling_convention,
    {"exports.calling_convention",
     "each export pops exactly its argument bytes and leaves EBX, ESI, EDI, EBP, the direction "
     "flag, the x87 control word, status and register stack and MXCSR as the host had them",
     {"exports.names"},
     check_level::standard,
     check_target::windows_dll}) {
  std::vector<std::string> problems;
  for (std::uint16_t control : host_control_words) {
    const auto session = session_of(context);
    session->set_x87_control(control);
    for (const std::string& p : call_every_export(*session)) {
      if (std::find(problems.begin(), problems.end(), p) == problems.end())
        problems.push_back(p);
    }
  }
  if (!problems.empty()) {
    std::string reason;
    for (const std::string& p : problems) reason += (reason.empty() ? "" : "; ") + p;
    return failed(reason);
  }
  return passed(
      "each popped its argument bytes and kept EBX, ESI, EDI, EBP, the direction flag, the x87 "
      "control word, status and register stack and MXCSR, under control words 0x027F and 0x0272");
}

VALIDATOR_CHECK(
    check_version_gate,
    {"exports.version_gate",
     "has_interface refuses host version 429999 and another interface id, accepts 430000",
     {"exports.names"},
     check_level::standard,
     check_target::windows_dll}) {
  const auto s = session_of(context);
  struct gate_case {
    std::int32_t version;
    bool effector;
    std::uint32_t answer;
  };
  std::vector<std::string> problems;
  const std::string has_interface = s->name_of(entry_point::has_interface);
  for (const gate_case& c : {gate_case{429999, true, 0}, gate_case{430000, true, 1},
                             gate_case{440487, true, 1}, gate_case{440487, false, 0}}) {
    s->contract.application.version = c.version;
    const call_outcome r = s->call_export<entry_point::has_interface>(
        {s->interface_id(c.effector ? interface_query::effector : interface_query::another),
         s->application()});
    const std::string what = std::string(c.effector ? "the effector id" : "another id") +
                             " and host version " + std::to_string(c.version);
    if (const std::string problem = return_problem(has_interface, judged(r)); !problem.empty())
      problems.push_back(problem + " for " + what);
    else if ((r.eax != 0 ? 1u : 0u) != c.answer)
      problems.push_back(has_interface + " answered " + std::to_string(r.eax) + " for " + what +
                         " (expected " + (c.answer != 0 ? "true" : "false") + ")");
  }
  if (!problems.empty()) {
    std::string reason;
    for (const std::string& p : problems) reason += (reason.empty() ? "" : "; ") + p;
    return failed(reason);
  }
  return passed("429999 refused, 430000 and 440487 accepted, another interface id refused");
}

VALIDATOR_CHECK(
    check_identity,
    {"exports.identity",
     "get_name answers a text in the host's buffer; title, UUID, interface version and info "
     "record, each the same when asked again",
     {"exports.names"},
     check_level::standard,
     check_target::windows_dll}) {
  const auto s = session_of(context);
  const std::string get_name = s->name_of(entry_point::get_name),
                    get_uuid = s->name_of(entry_point::get_uuid),
                    get_interface_version = s->name_of(entry_point::get_interface_version),
                    get_info = s->name_of(entry_point::get_info);
  const std::uint32_t effector = s->interface_id(interface_query::effector);
  std::vector<std::string> problems;
  auto note = [&problems](const std::string& p) { problems.push_back(p); };

  // The title: a text the host handed out (or a constant of the module).
  std::string title;
  call_outcome r = s->call_export<entry_point::get_name>({effector, 0, s->application(), 0});
  const bool in_host_memory = s->in_host_memory(r.eax);
  const bool in_module = r.eax - s->module().base() < s->module().size();
  if (const std::string p = return_problem(get_name, judged(r)); !p.empty())
    note(p);
  else if (r.eax == 0)
    note(get_name + " answered null for the effector id");
  else if (!in_host_memory && !in_module)
    note(get_name + " answered a text outside the host's buffers and the module's image");
  else
    title = s->read_string(r.eax, 4096);
  if (r.clean() && r.eax != 0 && title.empty())
    note(get_name + " answered an empty title");

  // The UUID, written through the result location, the same each time.
  std::vector<std::uint8_t> uuid;
  for (int i = 0; i < 2; ++i) {
    const std::uint32_t at = s->guarded_location(16);
    r = s->call_export<entry_point::get_uuid>({at, effector, 0, 0});
    if (const std::string p = return_problem(get_uuid, judged(r)); !p.empty()) {
      note(p);
      break;
    }
    if (r.eax != at || !s->guards_kept(at, 16)) {
      note(get_uuid + " did not write 16 bytes at the result location and answer it");
      break;
    }
    const std::vector<std::uint8_t> bytes = s->read_bytes(at, 16);
    if (bytes == std::vector<std::uint8_t>(16, 0))
      note(get_uuid + " answered the nil UUID for the effector id");
    else if (!uuid.empty() && bytes != uuid)
      note(get_uuid + " answered another UUID the second time");
    uuid = bytes;
  }

  r = s->call_export<entry_point::get_interface_version>({0});
  if (const std::string p = return_problem(get_interface_version, judged(r)); !p.empty())
    note(p);
  else if (r.eax != 25)
    note(get_interface_version + " answered " + std::to_string(r.eax) +
         ", not the host's interface version 25");

  std::string info;
  const std::uint32_t at = s->guarded_location(24);
  r = s->call_export<entry_point::get_info>({at, 0, 0});
  if (const std::string p = return_problem(get_info, judged(r)); !p.empty()) {
    note(p);
  } else if (r.eax != at || !s->guards_kept(at, 24)) {
    note(get_info + " did not write 24 bytes at the result location and answer it");
  } else {
    std::int32_t words[6];
    for (int i = 0; i < 6; ++i)
      words[i] = static_cast<std::int32_t>(s->read32(at + 4 * static_cast<std::uint32_t>(i)));
    for (std::int32_t w : words) info += (info.empty() ? "" : ", ") + std::to_string(w);
    if (words[1] != 430000)
      note(get_info + "'s second word, the lowest host version, is " + std::to_string(words[1]) +
           ", not 430000 as the version gate has it");
  }

  for (const entry_point e : {entry_point::is_resident, entry_point::has_separate_interfaces}) {
    r = s->call_export(
        e, std::vector<std::uint32_t>(static_cast<std::size_t>(facts_of(e).arguments), 0));
    if (const std::string p = return_problem(s->name_of(e), judged(r)); !p.empty())
      note(p);
    else if (r.eax > 1)
      note(s->name_of(e) + " answered " + std::to_string(r.eax) + ", not a boolean");
  }

  // Facts of the module answer the same whenever the host asks (it keeps
  // a module loaded on is_resident's word), also for another host version.
  s->contract.application.version = 450000;
  for (const entry_point e : {entry_point::get_interface_version, entry_point::is_resident,
                              entry_point::has_separate_interfaces}) {
    const std::vector<std::uint32_t> words(static_cast<std::size_t>(facts_of(e).arguments), 0);
    const call_outcome first = s->call_export(e, words), again = s->call_export(e, words);
    if (first.returned && again.returned && first.eax != again.eax)
      note(s->name_of(e) + " answered " + std::to_string(first.eax) + ", then " +
           std::to_string(again.eax));
  }
  if (!info.empty()) {
    const std::uint32_t again = s->guarded_location(24);
    r = s->call_export<entry_point::get_info>({again, 0, 0});
    if (r.returned && s->read_bytes(again, 24) != s->read_bytes(at, 24))
      note(get_info + " answered another record the second time");
  }

  if (!problems.empty()) {
    std::string reason;
    for (const std::string& p : problems) reason += (reason.empty() ? "" : "; ") + p;
    return failed(reason);
  }
  return passed("title \"" + title + "\" (" +
                (in_host_memory ? "the host's text" : "the module's") + "), UUID " +
                uuid_text(uuid) + ", interface version 25, info {" + info + "}");
}

VALIDATOR_CHECK(
    check_foreign_ids,
    {"exports.foreign_ids",
     "each export asked about an interface the plug-in does not offer (another id, IUnknown's) "
     "comes back clean: has_interface false, get_name null, get_uuid the nil UUID, "
     "create_interface nothing or a component its Release ends",
     {"exports.names"},
     check_level::standard,
     check_target::windows_dll}) {
  const auto s = session_of(context);
  std::vector<std::string> problems;
  for (const interface_query query : {interface_query::another, interface_query::iunknown}) {
    const std::string asked =
        query == interface_query::another ? " for another interface id" : " for IUnknown's id";
    const std::uint32_t id = s->interface_id(query);
    const std::uint32_t out = s->guarded_location(16);
    s->write32(out, 0);
    const std::pair<entry_point, std::vector<std::uint32_t>> calls[] = {
        {entry_point::has_interface, {id, s->application()}},
        {entry_point::get_name, {id, 0, s->application(), 0}},
        {entry_point::get_uuid, {out, id, 0, 0}},
        {entry_point::create_interface, {0, 0, out, 0, 0}},
    };
    for (const auto& [e, args] : calls) {
      const std::string what = s->name_of(e) + asked;
      if (e == entry_point::create_interface)
        s->write32(out, 0);
      const call_outcome r = s->call_export(e, args);
      if (std::string p = call_problem(what, judged(r)); !p.empty()) {
        problems.push_back(p);
        continue;
      }
      if (e == entry_point::has_interface && (r.eax & 0xFF) != 0)
        problems.push_back(what + " answered true");
      else if (e == entry_point::get_name && r.eax != 0)
        problems.push_back(what + " answered \"" + s->read_string(r.eax, 256) + "\", not null");
      else if (e == entry_point::get_uuid &&
               (!s->guards_kept(out, 16) ||
                s->read_bytes(out, 16) != std::vector<std::uint8_t>(16, 0)))
        problems.push_back(what + " answered " + uuid_text(s->read_bytes(out, 16)) +
                           ", not the nil UUID");
      else if (e == entry_point::create_interface && s->read32(out) != 0) {
        // The host would own what it got: its one Release must end it.
        const call_outcome released = s->call_slot(s->read32(out), table_slot::release, {});
        if (std::string p =
                call_problem("Release (slot 2) of the component " + what, judged(released));
            !p.empty())
          problems.push_back(p);
        else if (released.eax != 0)
          problems.push_back("the component " + what +
                             " holds more than the one reference it handed out");
      }
    }
  }
  if (!problems.empty()) {
    std::string reason;
    for (const std::string& p : problems) reason += (reason.empty() ? "" : "; ") + p;
    return failed(reason);
  }
  return passed(
      "another id and IUnknown's: has_interface false, get_name null, get_uuid nil, "
      "create_interface came back clean");
}
