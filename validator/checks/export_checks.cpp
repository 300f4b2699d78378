// The eight exports, found by their decorated names and called as an
// MSVC-built host calls them.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/plugin_entry_points.hpp"
#include "validator/checks/check_context.hpp"

namespace {

constexpr std::uint16_t host_control_words[] = {
    0x027F,  // how Windows starts a thread: 53-bit precision, all masked
    0x0272,  // a host catching its own faults: invalid, zero-divide, overflow unmasked
};

std::string uuid_text(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t w[4];
  std::memcpy(w, bytes.data(), 16);
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%08X-%08X-%08X", w[0], w[1], w[2], w[3]);
  return text;
}

// Every export once, with arguments a host passes.
std::vector<std::string> call_every_export(plugin_session& s) {
  std::vector<std::string> problems;
  const std::uint32_t out = s.guarded_location(24);
  const std::vector<std::pair<const char*, std::vector<std::uint32_t>>> calls = {
      {"_has_interface@8", {s.interface_id(true), s.application()}},
      {"_get_name@16", {s.interface_id(true), 0, s.application(), 0}},
      {"_get_uuid@16", {out, s.interface_id(true), 0, 0}},
      {"_get_interface_version@4", {0}},
      {"_get_info@12", {out, 0, 0}},
      {"_is_resident@12", {0, 0, 0}},
      {"_has_separate_interfaces@4", {0}},
      {"_create_interface@20", {0, 0, out, 0, 0}},
  };
  for (const auto& [name, args] : calls) {
    const call_outcome r = s.call_export(name, args);
    if (const std::string problem = call_problem(name, r); !problem.empty()) {
      problems.push_back(problem);
      continue;
    }
    if (std::string(name) == "_create_interface@20" && r.eax != 0) {
      const std::uint32_t component = s.host.process.cpu.read32(out);
      s.call_slot(component, table_slot::release, {});
    }
  }
  return problems;
}

}  // namespace

VALIDATOR_CHECK(check_export_names, {"exports.names",
                                     "the eight decorated exports",
                                     {"file.format"},
                                     check_level::standard,
                                     check_target::any_plugin}) {
  const auto session = context.session();
  std::string missing;
  for (const char* name : decorated_entry_point_names) {
    if (session->module.export_address(name) == 0)
      missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  if (!missing.empty())
    return failed("exports no " + missing);
  return passed("the eight entry points, in " + session->module.export_module_name());
}

VALIDATOR_CHECK(
    check_export_calling_convention,
    {"exports.calling_convention",
     "each export pops exactly its argument bytes and keeps EBX, ESI, EDI, EBP, the x87 "
     "control word and no pending x87 exception",
     {"exports.names"},
     check_level::standard,
     check_target::any_plugin}) {
  std::vector<std::string> problems;
  for (std::uint16_t control : host_control_words) {
    const auto session = context.session();
    session->host.process.cpu.x87_control = control;
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
      "each popped its argument bytes and kept EBX, ESI, EDI, EBP, the x87 control word and no "
      "pending x87 exception, under control words 0x027F and 0x0272");
}

VALIDATOR_CHECK(
    check_version_gate,
    {"exports.version_gate",
     "has_interface refuses host version 429999 and another interface id, accepts 430000",
     {"exports.names"},
     check_level::standard,
     check_target::any_plugin}) {
  const auto s = context.session();
  struct gate_case {
    std::int32_t version;
    bool effector;
    std::uint32_t answer;
  };
  std::vector<std::string> problems;
  for (const gate_case& c : {gate_case{429999, true, 0}, gate_case{430000, true, 1},
                             gate_case{440487, true, 1}, gate_case{440487, false, 0}}) {
    s->contract.application.version = c.version;
    const call_outcome r =
        s->call_export("_has_interface@8", {s->interface_id(c.effector), s->application()});
    const std::string what = std::string(c.effector ? "the effector id" : "another id") +
                             " and host version " + std::to_string(c.version);
    if (const std::string problem = return_problem("_has_interface@8", r); !problem.empty())
      problems.push_back(problem + " for " + what);
    else if ((r.eax != 0 ? 1u : 0u) != c.answer)
      problems.push_back("_has_interface@8 answered " + std::to_string(r.eax) + " for " + what +
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
     "record",
     {"exports.names"},
     check_level::standard,
     check_target::any_plugin}) {
  const auto s = context.session();
  x86_emulator& cpu = s->host.process.cpu;
  std::vector<std::string> problems;
  auto note = [&problems](const std::string& p) { problems.push_back(p); };

  // The title: a text the host handed out (or a constant of the module).
  std::string title;
  call_outcome r = s->call_export("_get_name@16", {s->interface_id(true), 0, s->application(), 0});
  const bool in_host_memory =
      r.eax - emulated_layout::host_arena < emulated_layout::host_arena_size;
  const bool in_module = r.eax - s->module.base() < s->module.size();
  if (const std::string p = return_problem("_get_name@16", r); !p.empty())
    note(p);
  else if (r.eax == 0)
    note("_get_name@16 answered null for the effector id");
  else if (!in_host_memory && !in_module)
    note("_get_name@16 answered a text outside the host's buffers and the module's image");
  else
    title = cpu.read_string(r.eax, 4096);
  if (r.clean() && r.eax != 0 && title.empty())
    note("_get_name@16 answered an empty title");

  // The UUID, written through the result location, the same each time.
  std::vector<std::uint8_t> uuid;
  for (int i = 0; i < 2; ++i) {
    const std::uint32_t at = s->guarded_location(16);
    r = s->call_export("_get_uuid@16", {at, s->interface_id(true), 0, 0});
    if (const std::string p = return_problem("_get_uuid@16", r); !p.empty()) {
      note(p);
      break;
    }
    if (r.eax != at || !s->guards_kept(at, 16)) {
      note("_get_uuid@16 did not write 16 bytes at the result location and answer it");
      break;
    }
    const std::vector<std::uint8_t> bytes = cpu.read_bytes(at, 16);
    if (bytes == std::vector<std::uint8_t>(16, 0))
      note("_get_uuid@16 answered the nil UUID for the effector id");
    else if (!uuid.empty() && bytes != uuid)
      note("_get_uuid@16 answered another UUID the second time");
    uuid = bytes;
  }

  r = s->call_export("_get_interface_version@4", {0});
  if (const std::string p = return_problem("_get_interface_version@4", r); !p.empty())
    note(p);
  else if (r.eax != 25)
    note("_get_interface_version@4 answered " + std::to_string(r.eax) +
         ", not the host's interface version 25");

  std::string info;
  const std::uint32_t at = s->guarded_location(24);
  r = s->call_export("_get_info@12", {at, 0, 0});
  if (const std::string p = return_problem("_get_info@12", r); !p.empty()) {
    note(p);
  } else if (r.eax != at || !s->guards_kept(at, 24)) {
    note("_get_info@12 did not write 24 bytes at the result location and answer it");
  } else {
    std::int32_t words[6];
    cpu.read(at, words, sizeof words);
    for (std::int32_t w : words) info += (info.empty() ? "" : ", ") + std::to_string(w);
    if (words[1] != 430000)
      note("_get_info@12's second word, the lowest host version, is " + std::to_string(words[1]) +
           ", not 430000 as the version gate has it");
  }

  for (const char* name : {"_is_resident@12", "_has_separate_interfaces@4"}) {
    r = s->call_export(name, std::string(name) == "_is_resident@12"
                                 ? std::vector<std::uint32_t>{0, 0, 0}
                                 : std::vector<std::uint32_t>{0});
    if (const std::string p = return_problem(name, r); !p.empty())
      note(p);
    else if (r.eax > 1)
      note(std::string(name) + " answered " + std::to_string(r.eax) + ", not a boolean");
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
