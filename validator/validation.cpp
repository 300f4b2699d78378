#include "validator/validation.hpp"

#include <algorithm>
#include <chrono>

#include "validator/checks/check_context.hpp"

namespace {

struct check_entry {
  check_definition definition;
  check_result (*run)(check_context&);
};

const std::vector<check_entry>& checks() {
  static const std::vector<check_entry> list = {
      {{"file.format", "a PE32 i386 DLL exporting the host's entry points", {}}, check_file_format},
      {{"file.relocations",
        "base relocations, so that it loads where its base is taken",
        {"file.format"}},
       check_file_relocations},
      {{"file.imports",
        "every import exists on the oldest Windows asked for (--windows)",
        {"file.format"}},
       check_file_imports},
      {{"load.xp",
        "loads the XP way (no TLS callbacks, no static TLS); DllMain's attach and detach return",
        {"file.format"}},
       check_load_xp},
      {{"load.vista",
        "loads the Vista+ way (TLS callbacks, static TLS), moved through its relocations; attach "
        "and detach return",
        {"file.relocations"}},
       check_load_vista},
      {{"exports.names", "the eight decorated exports", {"file.format"}}, check_export_names},
      {{"exports.calling_convention",
        "each export pops exactly its argument bytes and keeps EBX, ESI, EDI, EBP, the x87 "
        "control word and no pending x87 exception",
        {"exports.names"}},
       check_export_calling_convention},
      {{"exports.version_gate",
        "has_interface refuses host version 429999 and another interface id, accepts 430000",
        {"exports.names"}},
       check_version_gate},
      {{"exports.identity",
        "get_name answers a text in the host's buffer; title, UUID, interface version and info "
        "record",
        {"exports.names"}},
       check_identity},
      {{"component.create",
        "create_interface stores a component holding one reference",
        {"exports.names"}},
       check_component_create},
      {{"component.table",
        "the table's first slots as the host calls them: AddRef and Release (COM), the one-slot "
        "destructor, the validity query at slot 4",
        {"component.create"}},
       check_component_table},
      {{"component.query_interface",
        "QueryInterface answers or refuses IUnknown and the effector id cleanly, refuses another "
        "id, leaves no reference",
        {"component.table"}},
       check_query_interface},
      {{"component.reference_counts",
        "AddRef and Release count up and down; the last Release frees the component",
        {"component.table"}},
       check_reference_counts},
      {{"render.hooks",
        "begin and end hooks (slots 205, 207) come back clean on pictures of 1x1 to 1920x1080, "
        "several renders on one component and an aborted job",
        {"component.table"}},
       check_render_hooks},
      {{"render.aborted_job", "an aborted job's picture is left untouched", {"render.hooks"}},
       check_aborted_job},
      {{"render.owned_references",
        "every owned host reference released exactly once",
        {"render.hooks"}},
       check_owned_references},
      {{"render.borrowed_references", "borrowed host references never released", {"render.hooks"}},
       check_borrowed_references},
      {{"render.picture_bounds", "no pixel access outside the picture", {"render.hooks"}},
       check_picture_bounds},
      {{"render.notify_image_changed",
        "notify_image_changed once after the picture changed",
        {"render.hooks"}},
       check_notify_image_changed},
      {{"render.after_release",
        "no call on a host object the host has dropped: a job after its end hook, anything "
        "after the last Release",
        {"render.hooks"}},
       check_after_release},
      {{"faults.create_interface",
        "the allocator failing at each allocation of create_interface: it comes back",
        {"component.table"}},
       check_faults_create_interface},
      {{"faults.end_hook",
        "the allocator failing at each allocation of the end hook: it comes back, references "
        "balanced, the next render served",
        {"render.owned_references", "render.borrowed_references"}},
       check_faults_end_hook},
      {{"faults.null_host_objects",
        "load_image_resource, get_output_image, get_application and get_render_settings "
        "answering null in turn: the hooks come back, references balanced",
        {"render.owned_references", "render.borrowed_references"}},
       check_faults_null_objects},
      {{"residue.cycles",
        "repeated load, use and FreeLibrary, the XP and the Vista+ way: handles, TLS slots, "
        "critical sections, modules and heap bytes do not grow",
        {"render.hooks"}},
       check_residue_cycles},
      {{"residue.cycles_with_exception",
        "the same with the first allocation of each end hook failing (an exception inside)",
        {"render.hooks"}},
       check_residue_with_exception},
      {{"residue.beside_libgcc",
        "with another module's libgcc_s_dw2-1.dll loaded: exceptions inside still caught, "
        "nothing left registered there after FreeLibrary",
        {"render.hooks"}},
       check_residue_beside_libgcc},
  };
  return list;
}

}  // namespace

check_result passed(std::string detail) {
  return check_result{"", check_status::passed, std::move(detail)};
}
check_result failed(std::string detail) {
  return check_result{"", check_status::failed, std::move(detail)};
}
check_result skipped(std::string detail) {
  return check_result{"", check_status::skipped, std::move(detail)};
}
check_result warned(std::string detail) {
  return check_result{"", check_status::warned, std::move(detail)};
}
check_result not_judged(std::string detail) {
  return check_result{"", check_status::not_judged, "the validator cannot judge this: " + detail};
}

int exit_status(const validation& done) {
  if (done.unusable)
    return exit_unusable;
  if (done.count(check_status::failed) != 0)
    return exit_failed;
  return done.count(check_status::not_judged) != 0 ? exit_validator_gap : exit_passed;
}

int validation::count(check_status status) const {
  return static_cast<int>(
      std::count_if(results.begin(), results.end(),
                    [status](const check_result& r) { return r.status == status; }));
}

const std::vector<check_definition>& check_definitions() {
  static const std::vector<check_definition> list = [] {
    std::vector<check_definition> definitions;
    for (const check_entry& entry : checks()) definitions.push_back(entry.definition);
    return definitions;
  }();
  return list;
}

validation validate(const validation_options& options) {
  const auto start = std::chrono::steady_clock::now();
  validation done;
  std::optional<check_context> context;
  try {
    context.emplace(check_context{options, plugin_file::read(options.plugin_path), std::nullopt});
  } catch (const std::exception& e) {
    done.unusable = true;
    done.results.push_back({"file.format", check_status::failed, e.what()});
    return done;
  }
  for (const check_entry& entry : checks()) {
    check_result result;
    // A check builds on the earlier ones passing (a warning is a pass).
    const check_result* unmet = nullptr;
    for (const char* need : entry.definition.needs) {
      for (const check_result& earlier : done.results) {
        if (earlier.name == need && unmet == nullptr &&
            (earlier.status != check_status::passed && earlier.status != check_status::warned))
          unmet = &earlier;
      }
    }
    if (unmet != nullptr && unmet->status == check_status::not_judged) {
      result = check_result{"", check_status::not_judged,
                            "needs " + unmet->name + ", which the validator could not judge"};
    } else if (unmet != nullptr) {
      result = skipped("needs " + unmet->name);
    } else {
      try {
        result = entry.run(*context);
      } catch (const validator_gap& e) {
        result = not_judged(e.what());
      } catch (const load_error& e) {
        // A session that cannot even load the plug-in.
        result = e.missing_function.empty()
                     ? failed(std::string("the emulated process could not go on: ") + e.what())
                     : not_judged(e.what());
      } catch (const std::exception& e) {
        // Whatever the plug-in did, the validator goes on with the next check.
        result = failed(std::string("the emulated process could not go on: ") + e.what());
      }
    }
    if (result.status == check_status::warned && options.strict)
      result.status = check_status::failed;
    result.name = entry.definition.name;
    done.results.push_back(result);
    if (result.name == "file.format" && result.status == check_status::failed) {
      done.unusable = true;
      break;
    }
  }
  done.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return done;
}
