// Renders through the component's table by position, as the host makes
// them: one component stamps pictures of several sizes, an aborted job and
// one more picture, then the host drops it and the module is unloaded. The
// checks below judge that one session, each for one rule.

#include <algorithm>
#include <chrono>

#include "validator/checks/check_context.hpp"

namespace {

struct planned_frame {
  std::int32_t width, height;
  bool aborted;
};
constexpr planned_frame render_plan[] = {
    {1, 1, false},       {7, 5, false},  {333, 77, false}, {640, 480, false},
    {1920, 1080, false}, {64, 48, true}, {64, 48, false},
};

std::string size_text(std::int32_t width, std::int32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

void judge_owned(const host_kit::object_books& object, std::vector<std::string>& owned) {
  if (object.held() > 0)
    owned.push_back(object.name + " still held " + std::to_string(object.held()) +
                    " time(s) after the last Release");
  else if (object.held() < 0)
    owned.push_back(object.name + " released " + std::to_string(-object.held()) +
                    " time(s) more than the plug-in got it");
}

void judge_borrowed(const host_kit::object_books& object, std::vector<std::string>& borrowed) {
  if (object.held() < 0)
    borrowed.push_back(object.name + " released " + std::to_string(-object.held()) +
                       " time(s), though the plug-in only borrows it");
}

check_context::render_observations observe_renders(check_context& context) {
  check_context::render_observations seen;
  const auto start = std::chrono::steady_clock::now();
  const auto s = context.target();
  const component_ref component = s->create_component(seen.problem);
  for (const planned_frame& plan : render_plan) {
    if (!seen.problem.empty())
      break;
    contract_frame& frame = s->new_frame(plan.width, plan.height, plan.aborted);
    const int notified_before = s->contract.settings.notifications;
    const plugin_target::hook_calls calls = s->render(component, frame);
    check_context::rendered_frame r;
    r.width = plan.width;
    r.height = plan.height;
    r.aborted = plan.aborted;
    r.problem = calls.problem();
    r.changed = frame.picture_changed();
    r.notifications = s->contract.settings.notifications - notified_before;
    r.notified_unchanged = frame.notified_unchanged;
    if (!r.problem.empty())
      seen.problem = r.problem + " on " + (plan.aborted ? "an aborted job's " : "a ") +
                     size_text(plan.width, plan.height) + " picture";
    seen.frames.push_back(r);
  }
  if (seen.problem.empty()) {
    const target_call released = s->release(component);
    seen.problem = call_problem("the last Release (slot 2)", released);
    s->contract.retire();
    // The host drops the module too: nothing may reach its objects then.
    if (seen.problem.empty())
      seen.problem = s->unload();
  }
  contract_host& host = s->contract;
  for (const auto& frame : host.frames) {
    judge_owned(frame->image.books(), seen.owned_faults);
    judge_borrowed(frame->job.books(), seen.borrowed_faults);
  }
  for (const auto& image : host.services.loaded) judge_owned(image->books(), seen.owned_faults);
  judge_owned(host.settings.books(), seen.owned_faults);
  judge_owned(host.job_application.books(), seen.owned_faults);
  judge_borrowed(host.application.books(), seen.borrowed_faults);
  judge_borrowed(host.services.books(), seen.borrowed_faults);
  for (const auto& frame : host.frames) {
    if (frame->image.books().outside_accesses != 0)
      seen.outside.push_back(frame->image.books().first_outside);
  }
  for (const auto& image : host.services.loaded) {
    if (image->books().outside_accesses != 0)
      seen.outside.push_back(image->books().first_outside);
  }
  for (const std::string& kept : host.ledger.lent_kept) seen.borrowed_faults.push_back(kept);
  seen.late_calls = host.ledger.used_after_release;
  for (const std::string& late : host.ledger.late_calls)
    seen.late_calls.push_back("called " + late + " after the host dropped it");
  seen.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seen;
}

const check_context::render_observations& renders(check_context& context) {
  if (!context.renders)
    context.renders = observe_renders(context);
  return *context.renders;
}

// The faults in order, each once, with how many renders showed it.
std::string joined(const std::vector<std::string>& parts) {
  std::vector<std::pair<std::string, int>> distinct;
  for (const std::string& p : parts) {
    auto it = std::find_if(distinct.begin(), distinct.end(),
                           [&p](const auto& seen) { return seen.first == p; });
    if (it == distinct.end())
      distinct.emplace_back(p, 1);
    else
      ++it->second;
  }
  std::string text;
  for (const auto& [fault, times] : distinct)
    text += (text.empty() ? "" : "; ") + fault +
            (times > 1 ? " (" + std::to_string(times) + " times)" : "");
  return text;
}

}  // namespace

VALIDATOR_CHECK(
    check_render_hooks,
    {"render.hooks",
     "begin and end hooks (slots 205, 207) come back clean (popped bytes, registers, flags, x87 "
     "and SSE state) within their budget on pictures of 1x1 to 1920x1080, several renders on "
     "one component and an aborted job",
     {"component.table", "table.layout"},
     check_level::standard,
     check_target::any_plugin}) {
  const auto& seen = renders(context);
  if (!seen.problem.empty())
    return failed(seen.problem);
  std::string sizes;
  for (const auto& f : seen.frames)
    sizes +=
        (sizes.empty() ? "" : ", ") + size_text(f.width, f.height) + (f.aborted ? " aborted" : "");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", seen.seconds);
  return passed(std::to_string(seen.frames.size()) + " renders on one component (" + sizes +
                "), every hook came back clean; " + seconds + " s");
}

VALIDATOR_CHECK(check_aborted_job, {"render.aborted_job",
                                    "an aborted job's picture is left untouched",
                                    {"render.hooks"},
                                    check_level::standard,
                                    check_target::any_plugin}) {
  for (const auto& f : renders(context).frames) {
    if (!f.aborted)
      continue;
    if (f.changed)
      return failed("the end hook changed the picture of a job that answered is_aborted true");
    if (f.notifications != 0)
      return failed("the end hook called notify_image_changed for an aborted job");
  }
  return passed("the aborted job's picture untouched, nothing notified");
}

VALIDATOR_CHECK(check_owned_references, {"render.owned_references",
                                         "every owned host reference released exactly once",
                                         {"render.hooks"},
                                         check_level::standard,
                                         check_target::any_plugin}) {
  const auto& seen = renders(context);
  if (!seen.owned_faults.empty())
    return failed(joined(seen.owned_faults));
  return passed("every owned result released exactly once by the last Release");
}

VALIDATOR_CHECK(check_borrowed_references,
                {"render.borrowed_references",
                 "borrowed host objects (the RenderJob, the HostApplication handed to the hooks, "
                 "the HostServices) as the plug-in found them at the end of each call: never "
                 "released, nothing added and kept",
                 {"render.hooks"},
                 check_level::standard,
                 check_target::any_plugin}) {
  const auto& seen = renders(context);
  if (!seen.borrowed_faults.empty())
    return failed(joined(seen.borrowed_faults));
  return passed(
      "the RenderJob, the HostApplication handed to the hooks and the HostServices as they "
      "were at the end of every call");
}

VALIDATOR_CHECK(check_picture_bounds, {"render.picture_bounds",
                                       "no pixel access outside the picture",
                                       {"render.hooks"},
                                       check_level::standard,
                                       check_target::any_plugin}) {
  const auto& seen = renders(context);
  if (!seen.outside.empty())
    return failed("accessed a pixel outside the picture: " + joined(seen.outside));
  return passed("every get_pixel and set_pixel inside its picture");
}

VALIDATOR_CHECK(check_notify_image_changed,
                {"render.notify_image_changed",
                 "notify_image_changed once in each render that changed the picture, after it "
                 "changed",
                 {"render.hooks"},
                 check_level::standard,
                 check_target::any_plugin}) {
  int changed = 0;
  for (const auto& f : renders(context).frames) {
    if (f.notified_unchanged != 0)
      return failed("end_render (slot 207) of the " + size_text(f.width, f.height) +
                    " render called RenderSettings::notify_image_changed before any pixel of the "
                    "picture had changed: the host shows the picture as it was");
  }
  for (const auto& f : renders(context).frames) {
    if (f.aborted || !f.changed)
      continue;
    ++changed;
    if (f.notifications != 1)
      return failed("the end hook changed the " + size_text(f.width, f.height) +
                    " picture and called RenderSettings::notify_image_changed " +
                    std::to_string(f.notifications) + " times, not once");
  }
  return passed(std::to_string(changed) + " pictures changed, each notified once");
}

VALIDATOR_CHECK(
    check_after_release,
    {"render.after_release",
     "no call on a host object after the plug-in released its last reference to it, nor on "
     "one the host has dropped (a job after its end hook, anything after the last Release)",
     {"render.hooks"},
     check_level::standard,
     check_target::any_plugin}) {
  const auto& seen = renders(context);
  if (!seen.late_calls.empty())
    return failed(joined(seen.late_calls));
  return passed(
      "no call on an object after its last release, on a render job after its end hook, nor "
      "on anything after the last Release and the unload");
}
