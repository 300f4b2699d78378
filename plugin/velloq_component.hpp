#pragma once
// The effector component: the one object the plug-in hands to the host.
//
// Its table of virtual operations is what the host calls by position: the
// interface chain effector_interface -> plugin_interface -> unknown_interface
// -> IUnknown fixes every slot. Everything else below is an ordinary
// (non-virtual) operation, so it adds nothing to the table.

#include <cstdint>
#include <string>

#include "host/effector_interface.hpp"
#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/owned_ref.hpp"
#include "host/render_job.hpp"
#include "host/types.hpp"

// The report: single-byte lines, each ended by "\n", no NUL byte.
using RenderReport = std::string;

class velloq_component final : public effector_interface {
 public:
  // Allocates a component with a reference count of 0.
  static velloq_component* create();

  void* VELLOQ_THISCALL delete_this(unsigned flags) override;

  // Called by the host through the plug-in table; takes no argument it reads.
  Uuid* VELLOQ_THISCALL get_plugin_uuid(Uuid* result, std::int32_t) override;

  // Called when a render starts. Never lets an exception reach the host.
  void VELLOQ_THISCALL begin_render(RenderJob* job, HostApplication* application,
                                    std::int32_t) override;
  // Called when the rendered picture is complete. Never lets an exception
  // reach the host.
  void VELLOQ_THISCALL end_render(std::int32_t) override;

  // The hooks' work; these may throw, the table entries above contain it.
  void run_begin_render(RenderJob* job, HostApplication* application);
  void run_end_render();

  // Report assembly and its line builders.
  RenderReport assemble_report(HostApplication* application);
  std::string describe_version(HostApplication* application);
  std::string describe_machine(HostApplication* application);
  std::string describe_render_method(HostApplication* application);
  std::string describe_gi(HostApplication* application);
  std::string describe_setup_time(HostApplication* application);
  std::string describe_rendering_time(HostApplication* application);
  std::string describe_total_time(HostApplication* application);

  // Placement, contrast and compositing.
  TextBlock compute_text_block(const ImageSize& size, RenderReport report);
  float mean_luminance(HostImage* image, const ImageSize& size, const TextBlock& block);
  void draw_glyph(HostImage* target, char ch, const ColorRgb& colour, std::int32_t x,
                  std::int32_t y, float opacity);
  std::int32_t draw_text(HostImage* target, const char* text, bool bright_background,
                         std::int32_t x, std::int32_t y);
  void fill_alpha(HostImage* target, float value);

  // Read-only views of the fields, for the host's tests.
  RenderJob* current_render_job() const { return render_job; }
  HostImage* current_glyph_atlas() const { return glyph_atlas.get(); }
  std::int32_t glyph_cell_width() const { return cell_width; }
  std::int32_t glyph_cell_height() const { return cell_height; }
  std::uint32_t render_start_tick() const { return start_tick; }

 private:
  velloq_component() = default;
  ~velloq_component() = default;

  RenderJob* render_job = nullptr;   // borrowed: the host keeps it alive
  owned_ref<HostImage> glyph_atlas;  // one reference, from the latest begin hook
  std::int32_t cell_width = 0;
  std::int32_t cell_height = 0;
  std::uint32_t start_tick = 0;
};
