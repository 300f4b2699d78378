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
  if (host.application.books().held() != 0)
    return "the HostApplication is held " + std::to_string(host.application.books().held()) +
           " time(s)";
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
  const auto s = context.session();
  emulated_heap& heap = s->host.process.heap;
  // How often a normal create_interface allocates.
  call_outcome created;
  std::uint64_t before = heap.allocations();
  std::uint32_t component = s->create_component(created);
  const std::uint64_t points = heap.allocations() - before;
  if (std::string p = return_problem("_create_interface@20", created); !p.empty())
    return failed(p);
  s->call_slot(component, table_slot::release, {});
  for (std::uint64_t failing = 1; failing <= points; ++failing) {
    heap.fail_allocation(failing);
    component = s->create_component(created);
    const std::string when = " with allocation " + std::to_string(failing) + " of " +
                             std::to_string(points) + " failing";
    if (std::string p = return_problem("_create_interface@20", created); !p.empty())
      return failed(p + when);
    if (component != 0) {
      const call_outcome released = s->call_slot(component, table_slot::release, {});
      if (std::string p = call_problem("Release (slot 2)", released); !p.empty())
        return failed(p + " of the component created" + when);
    }
  }
  heap.fail_allocation(0);
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
  const auto s = context.session();
  emulated_heap& heap = s->host.process.heap;
  call_outcome created;
  const std::uint32_t component = s->create_component(created);
  if (std::string p = return_problem("_create_interface@20", created); !p.empty())
    return failed(p);
  // A first render lets the runtime set itself up; the second is counted.
  s->render(component, s->new_frame(small_side, small_side));
  contract_frame& counted = s->new_frame(small_side, small_side);
  const std::uint32_t job = s->host.hosts.address_of<RenderJob>(&counted.job);
  s->call_slot(component, table_slot::begin_render, {job, s->application(), 0});
  const std::uint64_t before = heap.allocations();
  s->call_slot(component, table_slot::end_render, {0});
  counted.job.books().gone = true;
  const std::uint64_t points = heap.allocations() - before;
  int left_unchanged = 0;
  for (std::uint64_t failing = 1; failing <= points; ++failing) {
    contract_frame& frame = s->new_frame(small_side, small_side);
    const std::uint32_t frame_job = s->host.hosts.address_of<RenderJob>(&frame.job);
    const call_outcome begin =
        s->call_slot(component, table_slot::begin_render, {frame_job, s->application(), 0});
    heap.fail_allocation(failing);
    const call_outcome end = s->call_slot(component, table_slot::end_render, {0});
    heap.fail_allocation(0);
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
  const plugin_session::hook_calls next =
      s->render(component, s->new_frame(small_side, small_side));
  if (!next.problem().empty())
    return failed(next.problem() + " in the render after the failures");
  const call_outcome released = s->call_slot(component, table_slot::release, {});
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
  const auto s = context.session();
  call_outcome created;
  const std::uint32_t component = s->create_component(created);
  if (std::string p = return_problem("_create_interface@20", created); !p.empty())
    return failed(p);
  host_kit::ledger& ledger = s->contract.ledger;
  std::string answered;
  int renders = 0;
  for (int k = 1;; ++k) {
    ledger.null_at = ledger.object_calls + k;
    ledger.null_answered.clear();
    const plugin_session::hook_calls calls =
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
  const call_outcome released = s->call_slot(component, table_slot::release, {});
  if (std::string p = call_problem("the last Release (slot 2)", released); !p.empty())
    return failed(p);
  if (std::string p = after_release(s->contract); !p.empty())
    return failed(p);
  if (renders == 0)
    return passed("the hooks asked the host for no owned object");
  return passed(std::to_string(renders) + " renders, each with one more owned result answering " +
                "null (" + answered + "): the hooks came back, references balanced");
}
