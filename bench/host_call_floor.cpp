// Kept apart from the host objects' definitions, so that the compiler sees
// only the host's interfaces here and every call stays an indirect call, as
// it is in the plug-in.

#include "bench/host_call_floor.hpp"

#include <algorithm>

#include "host/owned_ref.hpp"

namespace {

// The eight outline offsets, then the glyph at the pen, in drawing order.
constexpr int draw_offsets[9][2] = {{+1, +1}, {0, +1}, {-1, +1}, {+1, 0}, {-1, 0},
                                    {+1, -1}, {0, -1}, {-1, -1}, {0, 0}};
constexpr std::int32_t margin = 2;
constexpr std::int32_t version_text_from = 440487;

std::int32_t clip(std::int64_t value, std::int32_t extent) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, extent));
}

}  // namespace

floor_plan plan_floor(const std::string& report, std::int32_t width, std::int32_t height,
                      std::int32_t cell_width, std::int32_t cell_height, std::int32_t host_version,
                      std::int32_t gi_method) {
  floor_plan plan;
  plan.width = width;
  plan.height = height;
  plan.newer_host = host_version >= version_text_from;
  plan.irradiance_caching = gi_method == 1 || gi_method == 5;

  std::int64_t breaks = 0, current = 0, longest = 0;
  for (const char c : report) {
    if (c == '\n') {
      ++breaks;
      longest = std::max(longest, current);
      current = 0;
    } else {
      ++current;
    }
  }
  const std::int64_t top = std::int64_t{height} - breaks * cell_height - margin;
  plan.luminance_top = clip(top, height);
  plan.luminance_bottom = std::max(plan.luminance_top, clip(height - margin, height));
  plan.luminance_left = clip(margin, width);
  plan.luminance_right = std::max(plan.luminance_left, clip(longest * cell_width + margin, width));

  std::int64_t pen_x = margin;
  std::int64_t pen_y = top;
  for (const char c : report) {
    if (c == '\n') {
      pen_y += cell_height;
      pen_x = margin;
      continue;
    }
    const int n = static_cast<unsigned char>(c) - 0x20;
    if (n >= 0 && n <= 94) {
      for (const auto& offset : draw_offsets) {
        const std::int64_t x = pen_x + offset[0];
        const std::int64_t y = pen_y + offset[1];
        floor_draw draw{};
        draw.cell_x = cell_width * (n % 16);
        draw.cell_y = cell_height * (n / 16);
        draw.x = static_cast<std::int32_t>(x);
        draw.y = static_cast<std::int32_t>(y);
        draw.first_row = clip(y, height);
        draw.last_row = std::max(draw.first_row, clip(y + cell_height, height));
        draw.first_column = clip(x, width);
        draw.last_column = std::max(draw.first_column, clip(x + cell_width, width));
        plan.draws.push_back(draw);
      }
    }
    pen_x += cell_width;
  }
  return plan;
}

std::int64_t run_host_call_floor(RenderJob* job, HostImage* atlas, const floor_plan& plan) {
  std::int64_t pixel_calls = 0;
  if (job->is_aborted(0))
    return pixel_calls;
  owned_ref<HostImage> image(job->get_output_image(0));
  ImageSize size{0, 0};
  image->get_size(&size, 0);
  owned_ref<HostApplication> application(job->get_application(0));

  // The line builders' calls.
  application->get_version(0);
  if (plan.newer_host)
    application->get_services(0)->get_version_text();
  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    Uuid renderer{};
    settings->get_renderer_uuid(&renderer, 0);
  }
  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    settings->get_gi_method(0);
    if (plan.irradiance_caching)
      settings->get_irradiance_caching(0);
  }
  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    settings->get_setup_time(0);
    application->get_version(0);
  }
  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    settings->get_rendering_time(0);
  }

  // The contrast: every pixel under the text block read once.
  for (std::int32_t y = plan.luminance_top; y < plan.luminance_bottom; ++y) {
    for (std::int32_t x = plan.luminance_left; x < plan.luminance_right; ++x) {
      Bgra8 pixel{0, 0, 0, 0};
      image->get_pixel(x, y, &pixel, 0);
      ++pixel_calls;
    }
  }

  // The glyphs: one atlas read per cell pixel inside the picture, and a read
  // and a write of the picture where the atlas has coverage.
  for (const floor_draw& draw : plan.draws) {
    image->get_size(&size, 0);
    for (std::int32_t ty = draw.first_row; ty < draw.last_row; ++ty) {
      for (std::int32_t tx = draw.first_column; tx < draw.last_column; ++tx) {
        Bgra8 glyph{0, 0, 0, 0};
        atlas->get_pixel(draw.cell_x + (tx - draw.x), draw.cell_y + (ty - draw.y), &glyph, 0);
        ++pixel_calls;
        if (glyph.alpha == 0)
          continue;
        Bgra8 pixel{0, 0, 0, 0};
        image->get_pixel(tx, ty, &pixel, 0);
        image->set_pixel(tx, ty, &pixel, 0);
        pixel_calls += 2;
      }
    }
  }

  // The opacity: every pixel read and written back.
  image->get_size(&size, 0);
  for (std::int32_t y = 0; y < size.height; ++y) {
    for (std::int32_t x = 0; x < size.width; ++x) {
      Bgra8 pixel{0, 0, 0, 0};
      image->get_pixel(x, y, &pixel, 0);
      pixel.alpha = 255;
      image->set_pixel(x, y, &pixel, 0);
      pixel_calls += 2;
    }
  }

  {
    owned_ref<RenderSettings> settings(application->get_render_settings(0));
    settings->notify_image_changed(0);
  }
  application.reset();
  image.reset();
  return pixel_calls;
}
