#include "validator/validation.hpp"

#include <algorithm>
#include <chrono>

#include "validator/checks/check_context.hpp"

namespace {

// The groups in the order they run: each builds on those before it.
constexpr const char* group_order[] = {"file",  "load",   "exports", "component",
                                       "table", "render", "faults",  "residue"};

std::size_t group_rank(const char* name) {
  const std::string group = std::string(name).substr(0, std::string(name).find('.'));
  for (std::size_t i = 0; i < std::size(group_order); ++i) {
    if (group == group_order[i])
      return i;
  }
  return std::size(group_order);
}

std::vector<registered_check>& registry() {
  static std::vector<registered_check> checks;
  return checks;
}

}  // namespace

check_registration::check_registration(check_definition definition, check_function run) {
  std::vector<registered_check>& checks = registry();
  // After the last check of its group or an earlier one: registrations of
  // one file come in the file's order.
  const std::size_t rank = group_rank(definition.name);
  auto at = checks.begin();
  for (auto it = checks.begin(); it != checks.end(); ++it) {
    if (group_rank(it->definition.name) <= rank)
      at = it + 1;
  }
  checks.insert(at, registered_check{std::move(definition), run});
}

const std::vector<registered_check>& registered_checks() {
  return registry();
}

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
    for (const registered_check& entry : registered_checks())
      definitions.push_back(entry.definition);
    return definitions;
  }();
  return list;
}

validation validate(const validation_options& options, const target_source& source) {
  const auto start = std::chrono::steady_clock::now();
  validation done;
  check_context context{options, source, std::nullopt};
  // Checks of a Windows DLL's own that a native module is not held to.
  std::vector<std::string> not_applicable;
  for (const registered_check& entry : registered_checks()) {
    check_result result;
    if (entry.definition.target == check_target::windows_dll &&
        source.kind() != check_target::windows_dll) {
      not_applicable.push_back(entry.definition.name);
      result = skipped("a Windows DLL's check; this plug-in is a native module");
      result.name = entry.definition.name;
      done.results.push_back(result);
      continue;
    }
    // A check builds on the earlier ones passing (a warning is a pass; a
    // check that does not apply to this plug-in is no obstacle).
    const check_result* unmet = nullptr;
    for (const char* need : entry.definition.needs) {
      for (const check_result& earlier : done.results) {
        if (earlier.name == need && unmet == nullptr && earlier.status != check_status::passed &&
            earlier.status != check_status::warned &&
            std::find(not_applicable.begin(), not_applicable.end(), need) == not_applicable.end())
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
        result = entry.run(context);
      } catch (const validator_gap& e) {
        result = not_judged(e.what());
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
