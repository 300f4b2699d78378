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

bool matches_any(const std::string& filter) {
  for (const registered_check& entry : registry()) {
    if (std::string(entry.definition.name).compare(0, filter.size(), filter) == 0)
      return true;
  }
  return false;
}

// One check, unless a check it builds on did not pass (a warning is a
// pass; a check that does not apply to this plug-in is no obstacle).
check_result run_check(const registered_check& entry, check_context& context,
                       const validation& done, const std::vector<std::string>& not_applicable) {
  const check_result* unmet = nullptr;
  for (const char* need : entry.definition.needs) {
    for (const check_result& earlier : done.results) {
      if (earlier.name == need && unmet == nullptr && earlier.status != check_status::passed &&
          earlier.status != check_status::warned &&
          std::find(not_applicable.begin(), not_applicable.end(), need) == not_applicable.end())
        unmet = &earlier;
    }
  }
  if (unmet != nullptr && unmet->status == check_status::not_judged)
    return check_result{"", check_status::not_judged,
                        "needs " + unmet->name + ", which the validator could not judge"};
  if (unmet != nullptr)
    return skipped("needs " + unmet->name);
  try {
    return entry.run(context);
  } catch (const validator_gap& e) {
    return not_judged(e.what());
  } catch (const std::exception& e) {
    // Whatever the plug-in did, the validator goes on with the next check.
    return failed(std::string("the emulated process could not go on: ") + e.what());
  }
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

const char* level_name(check_level level) {
  return level == check_level::strict ? "strict" : "standard";
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

namespace {

bool matches(const std::string& name, const std::vector<std::string>& filters) {
  for (const std::string& filter : filters) {
    if (name.compare(0, filter.size(), filter) == 0)
      return true;
  }
  return false;
}

void check_filters(const std::vector<std::string>& filters, const char* option) {
  for (const std::string& filter : filters) {
    if (filter.empty() || !matches_any(filter))
      throw std::invalid_argument(std::string(option) + " " + filter +
                                  ": no check is named so or begins so (see --list)");
  }
}

}  // namespace

std::vector<check_definition> selected_checks(const validation_options& options) {
  check_filters(options.only, "--only");
  check_filters(options.skip, "--skip");
  const std::vector<check_definition>& all = check_definitions();
  std::vector<bool> chosen(all.size(), options.only.empty());
  // What --only names, then what that needs, latest first: needs come
  // earlier in the order.
  for (std::size_t i = all.size(); i-- > 0;) {
    chosen[i] = chosen[i] || matches(all[i].name, options.only);
    if (!chosen[i])
      continue;
    for (const char* need : all[i].needs) {
      for (std::size_t j = 0; j < i; ++j) {
        if (all[j].name == std::string(need))
          chosen[j] = true;
      }
    }
  }
  // What --skip names, then what needs that, earliest first.
  std::vector<std::string> left_out;
  std::vector<check_definition> selected;
  for (std::size_t i = 0; i < all.size(); ++i) {
    bool out = !chosen[i] || matches(all[i].name, options.skip);
    for (const char* need : all[i].needs)
      out = out || std::find(left_out.begin(), left_out.end(), need) != left_out.end();
    if (out)
      left_out.push_back(all[i].name);
    else
      selected.push_back(all[i]);
  }
  return selected;
}

validation validate(const validation_options& options, const target_source& source,
                    const check_observer& observe) {
  const auto start = std::chrono::steady_clock::now();
  validation done;
  check_context context{options, source, std::nullopt, {}, 0};
  const std::vector<check_definition> selected = selected_checks(options);
  // Checks of a Windows DLL's own that a native module is not held to.
  std::vector<std::string> not_applicable;
  for (const registered_check& entry : registered_checks()) {
    if (std::none_of(selected.begin(), selected.end(), [&entry](const check_definition& d) {
          return std::string(d.name) == entry.definition.name;
        }))
      continue;
    const auto check_start = std::chrono::steady_clock::now();
    check_result result;
    if (entry.definition.target == check_target::windows_dll &&
        source.kind() != check_target::windows_dll) {
      not_applicable.push_back(entry.definition.name);
      result = skipped("a Windows DLL's check; this plug-in is a native module");
    } else {
      result = run_check(entry, context, done, not_applicable);
    }
    result.name = entry.definition.name;
    result.level = entry.definition.level;
    // A strict-level check's finding is a cost a host can live with.
    if (result.status == check_status::failed && entry.definition.level == check_level::strict &&
        !options.strict)
      result.status = check_status::warned;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - check_start).count();
    done.results.push_back(result);
    if (observe)
      observe(done.results.back());
    if (result.name == "file.format" && result.status == check_status::failed) {
      done.unusable = true;
      break;
    }
  }
  done.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return done;
}
