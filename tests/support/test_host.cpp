#include "tests/support/test_host.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

// Pixels are stored only for images up to this many; larger answered sizes
// model a host image that claims a size without holding it.
constexpr std::int64_t stored_pixel_limit = std::int64_t{1} << 24;

bool stores_pixels(std::int32_t width, std::int32_t height) {
  return width >= 0 && height >= 0 && std::int64_t{width} * height <= stored_pixel_limit;
}

}  // namespace

void call_ledger::record(const std::string& call, std::int64_t& count, bool is_pixel_call) {
  ++count;
  if (!is_pixel_call || list_pixel_calls)
    calls.push_back(call);
  ++counted_calls;
  if (throw_at != 0 && counted_calls == throw_at)
    throw injected_fault();
}

bool call_ledger::next_object_is_null() {
  ++object_calls;
  return null_at != 0 && object_calls == null_at;
}

std::int64_t call_ledger::count(const std::string& call) const {
  auto it = counts.find(call);
  return it == counts.end() ? 0 : it->second;
}

std::vector<std::string> call_ledger::without(const std::string& prefix) const {
  std::vector<std::string> kept;
  for (const auto& call : calls) {
    if (call.compare(0, prefix.size(), prefix) != 0)
      kept.push_back(call);
  }
  return kept;
}

test_image::test_image(call_ledger& ledger, std::string name, std::int32_t width,
                       std::int32_t height, Bgra8 fill)
    : ledger_object(ledger, std::move(name)), answered_size{width, height} {
  if (stores_pixels(width, height)) {
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
  }
}

bool test_image::inside(std::int32_t x, std::int32_t y) const {
  return x >= 0 && y >= 0 && x < answered_size.width && y < answered_size.height;
}

Bgra8& test_image::at(std::int32_t x, std::int32_t y) {
  return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(answered_size.width) +
                static_cast<std::size_t>(x)];
}

void VELLOQ_THISCALL test_image::get_size(ImageSize* size, std::int32_t reserved) {
  if (reserved != 0)
    ++reserved_not_zero;
  record("get_size");
  *size = answered_size;
}

Bgra8* test_image::access(const char* call, std::int32_t x, std::int32_t y, std::int32_t reserved) {
  if (reserved != 0)
    ++reserved_not_zero;
  record(call, true);
  if (ledger_.list_pixel_calls) {
    ledger_.calls.back() += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
  }
  if (!inside(x, y)) {
    ++outside_accesses;
    return nullptr;
  }
  return pixels.empty() ? nullptr : &at(x, y);
}

void VELLOQ_THISCALL test_image::get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                           std::int32_t reserved) {
  if (Bgra8* stored = access("get_pixel", x, y, reserved))
    *pixel = *stored;
}

void VELLOQ_THISCALL test_image::set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                           std::int32_t reserved) {
  if (Bgra8* stored = access("set_pixel", x, y, reserved))
    *stored = *pixel;
}

Uuid* VELLOQ_THISCALL test_settings::get_renderer_uuid(Uuid* result, std::int32_t) {
  record("get_renderer_uuid");
  *result = renderer;
  return result;
}
std::int32_t VELLOQ_THISCALL test_settings::get_gi_method(std::int32_t) {
  record("get_gi_method");
  return gi_method;
}
bool VELLOQ_THISCALL test_settings::get_irradiance_caching(std::int32_t) {
  record("get_irradiance_caching");
  return irradiance_caching;
}
std::int32_t VELLOQ_THISCALL test_settings::get_setup_time(std::int32_t) {
  record("get_setup_time");
  return setup_time;
}
std::int32_t VELLOQ_THISCALL test_settings::get_rendering_time(std::int32_t) {
  record("get_rendering_time");
  return rendering_time;
}
void VELLOQ_THISCALL test_settings::notify_image_changed(std::int32_t) {
  record("notify_image_changed");
  ++notifications;
}

const char* VELLOQ_THISCALL test_services::get_localized_string(const char* id) {
  record("get_localized_string");
  auto it = strings.find(id);
  return it == strings.end() ? "" : it->second.c_str();
}

HostImage* VELLOQ_THISCALL test_services::load_image_resource(const char* name) {
  record("load_image_resource");
  requested_names.emplace_back(name);
  if (ledger_.next_object_is_null())
    return nullptr;
  auto atlas = std::make_unique<test_image>(
      ledger_, "atlas" + std::to_string(loaded_atlases.size() + 1), atlas_width, atlas_height);
  if (!atlas_pixels.empty() && atlas_pixels.size() == atlas->pixels.size()) {
    atlas->pixels = atlas_pixels;
  }
  loaded_atlases.push_back(std::move(atlas));
  return loaded_atlases.back()->hand_out();
}

const char* VELLOQ_THISCALL test_services::get_version_text() {
  record("get_version_text");
  return version_text_is_null ? nullptr : version_text.c_str();
}

std::int32_t VELLOQ_THISCALL test_application::get_version(std::int32_t) {
  record("get_version");
  return version;
}
HostServices* VELLOQ_THISCALL test_application::get_services(std::int32_t) {
  record("get_services");
  if (ledger_.next_object_is_null())
    return nullptr;
  return &services_;
}
RenderSettings* VELLOQ_THISCALL test_application::get_render_settings(std::int32_t) {
  record("get_render_settings");
  if (ledger_.next_object_is_null())
    return nullptr;
  return settings_.hand_out();
}

bool VELLOQ_THISCALL test_job::is_aborted(std::int32_t) {
  record("is_aborted");
  return aborted;
}
HostImage* VELLOQ_THISCALL test_job::get_output_image(std::int32_t) {
  record("get_output_image");
  if (ledger_.next_object_is_null())
    return nullptr;
  return image_.hand_out();
}
HostApplication* VELLOQ_THISCALL test_job::get_application(std::int32_t) {
  record("get_application");
  if (ledger_.next_object_is_null())
    return nullptr;
  return application_.hand_out();
}

test_host::test_host(std::int32_t width, std::int32_t height, Bgra8 fill)
    : image(ledger, "image", width, height, fill) {}

std::vector<std::string> test_host::reference_problems(bool atlas_may_be_held) const {
  std::vector<std::string> problems = ledger.errors;
  auto check = [&](const char* name, std::uint32_t held, std::int64_t releases, bool borrowed) {
    if (held != 0)
      problems.push_back(std::string(name) + " still held " + std::to_string(held));
    if (borrowed && releases != 0)
      problems.push_back(std::string(name) + " borrowed but released");
  };
  check("image", image.held_by_plugin(), image.releases, false);
  check("application", application.held_by_plugin(), 0, false);
  check("settings", settings.held_by_plugin(), 0, false);
  check("job", job.held_by_plugin(), job.releases, true);
  check("services", services.held_by_plugin(), services.releases, true);
  for (std::size_t i = 0; i < services.loaded_atlases.size(); ++i) {
    const bool newest = i + 1 == services.loaded_atlases.size();
    const std::uint32_t held = services.loaded_atlases[i]->held_by_plugin();
    if (held > ((newest && atlas_may_be_held) ? 1u : 0u)) {
      problems.push_back("atlas " + std::to_string(i + 1) + " still held " + std::to_string(held));
    }
  }
  return problems;
}

void test_host::use_shipped_atlas() {
  services.atlas_pixels = shipped_atlas_pixels();
}

const std::vector<Bgra8>& shipped_atlas_pixels() {
  static const std::vector<Bgra8> pixels = [] {
    std::ifstream file(VELLOQ_SOURCE_DIR "/resources/ascii.tga", std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    constexpr int width = 128, height = 72, header = 18;
    std::vector<Bgra8> upright(static_cast<std::size_t>(width) * height, Bgra8{0, 0, 0, 0});
    if (bytes.size() < header + std::size_t{width} * height * 4) {
      throw std::runtime_error("resources/ascii.tga is missing or short");
    }
    // Rows are stored bottom to top.
    for (int stored = 0; stored < height; ++stored) {
      const int y = height - 1 - stored;
      for (int x = 0; x < width; ++x) {
        const unsigned char* p =
            &bytes[header + (static_cast<std::size_t>(stored) * width + x) * 4];
        upright[static_cast<std::size_t>(y) * width + x] = Bgra8{p[0], p[1], p[2], p[3]};
      }
    }
    return upright;
  }();
  return pixels;
}
