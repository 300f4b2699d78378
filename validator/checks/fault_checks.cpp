// Bad states the host's process can be in: the allocator failing at each
// point where the plug-in allocates, and host objects answering null where
// the host may. The plug-in must come back each time and keep references
// balanced.

#include "validator/checks/check_context.hpp"

namespace {

constexpr std::int32_t small_side = 8;

// References to `host`'s render objects the plug-in holds after a hook
// (a loaded image resource may stay with the component).
std::string unbalanced(const contract_host& host) {
  for (const auto& frame : host.frames) {
    if (frame->image.books().held() != 0)
      return "the output image is held " + std::to_string(frame->image.books().held()) + " time(s)";
    if (frame->job.books().held() < 0)
      return "the RenderJob was released";
  }
  if (host.settings.books().held() != 0)
    return "the RenderSettings is held " + std::to_string(host.settings.books().held()) +
           " time(s)";
  for (const contract_application* application : {&host.application, &host.job_application}) {
    if (application->books().held() != 0)
      return application->books().name + " is held " + std::to_string(application->books().held()) +
             " time(s)";
  }
  return std::string();
}

std::string after_release(const contract_host& host) {
  for (const auto& image : host.services.loaded) {
    if (image->books().held() != 0)
      return image->books().name + " is held " + std::to_string(image->books().held()) +
             " time(s) after the last Release";
  }
  return std::string();
}

}  // namespace

VALIDATOR_CHECK(check_faults_create_interface,
                {"faults.create_interface",
                 "the allocator failing at each allocation of create_interface: it comes back",
                 {"component.table"},
                 check_level::standard,
                 check_target::any_plugin}) {
  const auto s = context.target();
  // How often a normal create_interface allocates.
  const std::optional<std::uint64_t> before = s->allocations();
  if (!before)
    return skipped("the plug-in's allocations cannot be counted here");
  const std::string create = s->name_of(entry_point::create_interface);
  component_ref component = 0;
  bool kept = true;
  target_call created = s->create_interface(component, kept);
  const std::uint64_t points = *s->allocations() - *before;
  if (std::string p = return_problem(create, created); !p.empty())
    return failed(p);
  if (component != 0)
    s->release(component);
  for (std::uint64_t failing = 1; failing <= points; ++failing) {
    s->fail_allocation(failing);
    component = 0;
    created = s->create_interface(component, kept);
    const std::string when = " with allocation " + std::to_string(failing) + " of " +
                             std::to_string(points) + " failing";
    if (std::string p = return_problem(create, created); !p.empty())
      return failed(p + when);
    if (component != 0) {
      const target_call released = s->release(component);
      if (std::string p = call_problem("Release (slot 2)", released); !p.empty())
        return failed(p + " of the component created" + when);
    }
  }
  s->fail_allocation(0);
  return passed(std::to_string(points) +
                " allocation(s), each failing in turn: create_interface came back each time");
}

VALIDATOR_CHECK(
    check_faults_end_hook,
    {"faults.end_hook",
     "the allocator failing at each allocation of the end hook: it comes back, references "
     "balanced, the next render served",
     {"render.owned_references", "render.borrowed_references"},
     check_level::standard,
     check_target::any_plugin}) {
  const auto s = context.target();
  if (!s->allocations())
    return skipped("the plug-in's allocations cannot be counted here");
  std::string problem;
  const component_ref component = s->create_component(problem);
  if (!problem.empty())
    return failed(problem);
  // A first render lets the runtime set itself up; the second is counted.
  s->render(component, s->new_frame(small_side, small_side));
  contract_frame& counted = s->new_frame(small_side, small_side);
  s->begin_render(component, counted);
  const std::uint64_t before = *s->allocations();
  s->end_render(component);
  counted.job.books().gone = true;
  const std::uint64_t points = *s->allocations() - before;
  int left_unchanged = 0;
  for (std::uint64_t failing = 1; failing <= points; ++failing) {
    contract_frame& frame = s->new_frame(small_side, small_side);
    const target_call begin = s->begin_render(component, frame);
    s->fail_allocation(failing);
    const target_call end = s->end_render(component);
    s->fail_allocation(0);
    frame.job.books().gone = true;
    const std::string when = " with allocation " + std::to_string(failing) + " of " +
                             std::to_string(points) + " in the end hook failing";
    std::string p = call_problem("begin_render (slot 205)", begin);
    if (p.empty())
      p = call_problem("end_render (slot 207)", end);
    if (p.empty() && !unbalanced(s->contract).empty())
      p = "after the end hook " + unbalanced(s->contract);
    if (!p.empty())
      return failed(p + when);
    left_unchanged += frame.picture_changed() ? 0 : 1;
  }
  const plugin_target::hook_calls next = s->render(component, s->new_frame(small_side, small_side));
  if (!next.problem().empty())
    return failed(next.problem() + " in the render after the failures");
  const target_call released = s->release(component);
  if (std::string p = call_problem("the last Release (slot 2)", released); !p.empty())
    return failed(p);
  if (std::string p = after_release(s->contract); !p.empty())
    return failed(p);
  return passed(std::to_string(points) +
                " allocation(s) in the end hook, each failing in turn: the hook came back, "
                "references balanced (" +
                std::to_string(left_unchanged) + " left the picture as it was)");
}

VALIDATOR_CHECK(check_faults_null_objects,
                {"faults.null_host_objects",
                 "load_image_resource, get_output_image, get_application and get_render_settings "
                 "answering null in turn: the hooks come back, references balanced",
                 {"render.owned_references", "render.borrowed_references"},
                 check_level::standard,
                 check_target::any_plugin}) {
  const auto s = context.target();
  std::string problem;
  const component_ref component = s->create_component(problem);
  if (!problem.empty())
    return failed(problem);
  host_kit::ledger& ledger = s->contract.ledger;
  std::string answered;
  int renders = 0;
  for (int k = 1;; ++k) {
    ledger.null_at = ledger.object_calls + k;
    ledger.null_answered.clear();
    const plugin_target::hook_calls calls =
        s->render(component, s->new_frame(small_side, small_side));
    ledger.null_at = 0;
    if (ledger.null_answered.empty() && calls.problem().empty())
      break;
    const std::string when = " with " + ledger.null_answered + " answering null";
    if (!calls.problem().empty())
      return failed(calls.problem() + when);
    if (std::string p = unbalanced(s->contract); !p.empty())
      return failed("after the end hook " + p + when);
    if (answered.find(ledger.null_answered) == std::string::npos)
      answered += (answered.empty() ? "" : ", ") + ledger.null_answered;
    ++renders;
  }
  const target_call released = s->release(component);
  if (std::string p = call_problem("the last Release (slot 2)", released); !p.empty())
    return failed(p);
  if (std::string p = after_release(s->contract); !p.empty())
    return failed(p);
  if (renders == 0)
    return passed("the hooks asked the host for no owned object");
  return passed(std::to_string(renders) + " renders, each with one more owned result answering " +
                "null (" + answered + "): the hooks came back, references balanced");
}
