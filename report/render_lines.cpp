// The render method, global illumination and timing lines.

#include <cstdint>

#include "plugin/identity.hpp"
#include "plugin/uuid.hpp"
#include "plugin/velloq_component.hpp"
#include "report/format_line.hpp"
#include "report/render_names.hpp"
#include "report/system_platform.hpp"

namespace {

// Below this host version the setup time comes in whole seconds.
constexpr std::int32_t setup_milliseconds_from_version = 440468;

// Milliseconds shown as seconds: only the single-precision value is printed.
float seconds_from_milliseconds(double milliseconds) {
  return static_cast<float>(milliseconds / 1000.0);
}

// What a line shows when the host gives no render settings.
constexpr const char* unknown_value = "Unknown";

}  // namespace

std::string velloq_component::describe_render_method(HostApplication* application) {
  owned_ref<RenderSettings> settings(application->get_render_settings(0));
  if (!settings)
    return format_line("Method: %s\n", unknown_value);
  Uuid renderer{};
  settings->get_renderer_uuid(&renderer, 0);
  return format_line("Method: %s\n", renderer_name(renderer));
}

std::string velloq_component::describe_gi(HostApplication* application) {
  owned_ref<RenderSettings> settings(application->get_render_settings(0));
  if (!settings)
    return format_line("G.I.  : %s\n", unknown_value);
  const std::int32_t code = settings->get_gi_method(0);
  std::string text = gi_label(code);
  if (gi_has_irradiance_caching(code)) {
    text += settings->get_irradiance_caching(0) ? "\n Irradiance Caching: ON"
                                                : "\n Irradiance Caching: OFF";
  }
  return format_line("G.I.  : %s\n", text);
}

std::string velloq_component::describe_setup_time(HostApplication* application) {
  owned_ref<RenderSettings> settings(application->get_render_settings(0));
  if (!settings) {
    return format_line("Setup Time    : %s\n", unknown_value);
  }
  std::int32_t t = settings->get_setup_time(0);
  if (application->get_version(0) < setup_milliseconds_from_version) {
    // Whole seconds from an older host; the product wraps as 32-bit
    // arithmetic does instead of overflowing.
    t = static_cast<std::int32_t>(static_cast<std::uint32_t>(t) * 1000u);
  }
  const float seconds = seconds_from_milliseconds(t);
  return format_line("Setup Time    : %.2f sec\n", seconds);
}

std::string velloq_component::describe_rendering_time(HostApplication* application) {
  owned_ref<RenderSettings> settings(application->get_render_settings(0));
  if (!settings) {
    return format_line("Rendering Time: %s\n", unknown_value);
  }
  const float seconds = seconds_from_milliseconds(settings->get_rendering_time(0));
  return format_line("Rendering Time: %.2f sec\n", seconds);
}

std::string velloq_component::describe_total_time(HostApplication*) {
  // Unsigned 32-bit: a wrap of the tick counter since the begin hook still
  // gives the elapsed milliseconds.
  const std::uint32_t elapsed = active_platform().tick_count() - start_tick;
  const float seconds = seconds_from_milliseconds(elapsed);
  return format_line("Total Time    : %.2f sec\n", seconds);
}
