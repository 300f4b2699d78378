#include "plugin/velloq_component.hpp"

#include <new>

#include "plugin/identity.hpp"
#include "plugin/x87_state_guard.hpp"
#include "report/system_platform.hpp"

// Exceptions and the module boundary. The DLL links its own static C++
// runtime, so an exception that left a hook or an export would not unwind
// into the host: the host process would terminate and the artist would lose
// the scene. The table entries of the two hooks and the exports are the only
// places that catch; everything below them lets exceptions pass, and the
// scoped holders release every owned host reference on the way out. A hook
// that caught something simply returns, with nothing more drawn and nothing
// reported.

velloq_component* velloq_component::create() {
  return new velloq_component();
}

void* VELLOQ_THISCALL velloq_component::delete_this(unsigned flags) {
  this->~velloq_component();
  if ((flags & 1u) != 0)
    ::operator delete(this);
  return this;
}

Uuid* VELLOQ_THISCALL velloq_component::get_plugin_uuid(Uuid* result, std::int32_t) {
  *result = identity().plugin_uuid;
  return result;
}

void VELLOQ_THISCALL velloq_component::begin_render(RenderJob* job, HostApplication* application,
                                                    std::int32_t) {
  const x87_state_guard host_floating_point;
  try {
    run_begin_render(job, application);
  } catch (...) {
  }
}

void VELLOQ_THISCALL velloq_component::end_render(std::int32_t) {
  const x87_state_guard host_floating_point;
  try {
    run_end_render();
  } catch (...) {
  }
}

void velloq_component::run_begin_render(RenderJob* job, HostApplication* application) {
  render_job = job;
  HostServices* services = application != nullptr ? application->get_services(0) : nullptr;
  // A host that cannot give the atlas leaves the cell size at 0: the render
  // still gets its report lines measured, made opaque and notified, but no
  // glyph is drawn.
  glyph_atlas.reset(services != nullptr ? services->load_image_resource("ascii") : nullptr);
  cell_width = 0;
  cell_height = 0;
  if (glyph_atlas) {
    ImageSize size{0, 0};
    glyph_atlas->get_size(&size, 0);
    cell_width = size.width / 16;
    cell_height = size.height / 6;
  }
  start_tick = active_platform().tick_count();
}

void velloq_component::run_end_render() {
  // An end hook without a begin hook has no render to work on.
  if (render_job == nullptr)
    return;
  if (render_job->is_aborted(0))
    return;

  owned_ref<HostImage> image(render_job->get_output_image(0));
  if (!image)
    return;
  ImageSize size{0, 0};
  image->get_size(&size, 0);

  owned_ref<HostApplication> application(render_job->get_application(0));
  // Without the application there is no report and no one to notify, so the
  // picture is left as the host rendered it.
  if (!application)
    return;

  RenderReport report = assemble_report(application.get());
  const TextBlock block = compute_text_block(size, report);
  const float mean = mean_luminance(image.get(), size, block);
  const bool bright_background = mean > 0.5f;
  draw_text(image.get(), report.c_str(), bright_background, block.left, block.top);
  fill_alpha(image.get(), 1.0f);

  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    if (settings)
      settings->notify_image_changed(0);
  }

  // Report first, then the application, then the image.
  report = RenderReport();
  application.reset();
  image.reset();
}
