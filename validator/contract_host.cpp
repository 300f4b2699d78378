#include "validator/contract_host.hpp"

#include <algorithm>
#include <cstring>

namespace {

// A picture no plug-in could mistake for a flat colour: every byte varies.
std::vector<Bgra8> pattern(std::int32_t width, std::int32_t height) {
  std::vector<Bgra8> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    std::uint32_t h = static_cast<std::uint32_t>(i) * 2654435761u;
    h ^= h >> 15;
    pixels[i] = Bgra8{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                      static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 24)};
  }
  return pixels;
}

}  // namespace

bool contract_ledger::next_object_is_null(const std::string& call) {
  if (++object_calls != null_at)
    return false;
  null_answered = call;
  return true;
}

contract_image::contract_image(contract_ledger& ledger, std::string name, std::int32_t w,
                               std::int32_t h, std::vector<Bgra8> stored)
    : contract_object(ledger, std::move(name)), width(w), height(h), pixels(std::move(stored)) {}

void VELLOQ_THISCALL contract_image::get_size(ImageSize* size, std::int32_t) {
  called("get_size");
  *size = ImageSize{width, height};
}

Bgra8* contract_image::at(const char* operation, std::int32_t x, std::int32_t y) {
  called(operation);
  if (x >= 0 && y >= 0 && x < width && y < height)
    return &pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)];
  if (outside_accesses++ == 0)
    first_outside = std::string(operation) + "(" + std::to_string(x) + ", " + std::to_string(y) +
                    ") on " + name_ + " of " + std::to_string(width) + "x" + std::to_string(height);
  return nullptr;
}

void VELLOQ_THISCALL contract_image::get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                               std::int32_t) {
  if (const Bgra8* stored = at("get_pixel", x, y))
    *pixel = *stored;
}

void VELLOQ_THISCALL contract_image::set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                               std::int32_t) {
  if (Bgra8* stored = at("set_pixel", x, y))
    *stored = *pixel;
}

Uuid* VELLOQ_THISCALL contract_settings::get_renderer_uuid(Uuid* result, std::int32_t) {
  called("get_renderer_uuid");
  *result = Uuid{{1, 0, 0, 0}};
  return result;
}
std::int32_t VELLOQ_THISCALL contract_settings::get_gi_method(std::int32_t) {
  called("get_gi_method");
  return 1;
}
bool VELLOQ_THISCALL contract_settings::get_irradiance_caching(std::int32_t) {
  called("get_irradiance_caching");
  return true;
}
std::int32_t VELLOQ_THISCALL contract_settings::get_setup_time(std::int32_t) {
  called("get_setup_time");
  return 1500;
}
std::int32_t VELLOQ_THISCALL contract_settings::get_rendering_time(std::int32_t) {
  called("get_rendering_time");
  return 61234;
}
void VELLOQ_THISCALL contract_settings::notify_image_changed(std::int32_t) {
  called("notify_image_changed");
  ++notifications;
}

const char* VELLOQ_THISCALL contract_services::get_localized_string(const char* id) {
  called("get_localized_string");
  const std::optional<std::string> text = resources_.text ? resources_.text(id) : std::nullopt;
  texts.push_back(std::make_unique<std::string>(text.value_or("")));
  return texts.back()->c_str();
}

HostImage* VELLOQ_THISCALL contract_services::load_image_resource(const char* name) {
  called("load_image_resource");
  if (ledger_.next_object_is_null("HostServices::load_image_resource"))
    return nullptr;
  std::unique_ptr<contract_image> image =
      resources_.image ? resources_.image(ledger_, name) : nullptr;
  if (!image)
    return nullptr;  // the module has no image of that name
  loaded.push_back(std::move(image));
  return loaded.back()->hand_out();
}

const char* VELLOQ_THISCALL contract_services::get_version_text() {
  called("get_version_text");
  return "Vorlen 12.0.0 build 440487";
}

std::int32_t VELLOQ_THISCALL contract_application::get_version(std::int32_t) {
  called("get_version");
  return version;
}
HostServices* VELLOQ_THISCALL contract_application::get_services(std::int32_t) {
  called("get_services");
  return &services_;
}
RenderSettings* VELLOQ_THISCALL contract_application::get_render_settings(std::int32_t) {
  called("get_render_settings");
  if (ledger_.next_object_is_null("HostApplication::get_render_settings"))
    return nullptr;
  return settings_.hand_out();
}

bool VELLOQ_THISCALL contract_job::is_aborted(std::int32_t) {
  called("is_aborted");
  return aborted_;
}
HostImage* VELLOQ_THISCALL contract_job::get_output_image(std::int32_t) {
  called("get_output_image");
  if (ledger_.next_object_is_null("RenderJob::get_output_image"))
    return nullptr;
  return image_.hand_out();
}
HostApplication* VELLOQ_THISCALL contract_job::get_application(std::int32_t) {
  called("get_application");
  if (ledger_.next_object_is_null("RenderJob::get_application"))
    return nullptr;
  return application_.hand_out();
}

contract_frame::contract_frame(contract_ledger& ledger, contract_application& application,
                               std::int32_t width, std::int32_t height, bool aborted)
    : original(pattern(width, height)),
      image(ledger, "the output image", width, height, original),
      job(ledger, image, application, aborted) {}

bool contract_frame::picture_changed() const {
  return std::memcmp(image.pixels.data(), original.data(), original.size() * sizeof(Bgra8)) != 0;
}

contract_host::contract_host(module_resources resources) : services(ledger, std::move(resources)) {}

std::vector<const contract_object<HostImage>*> contract_host::images() const {
  std::vector<const contract_object<HostImage>*> all;
  for (const auto& frame : frames) all.push_back(&frame->image);
  for (const auto& image : services.loaded) all.push_back(image.get());
  return all;
}

void contract_host::retire() {
  settings.gone = services.gone = application.gone = true;
  for (auto& frame : frames) frame->image.gone = frame->job.gone = true;
  for (auto& image : services.loaded) image->gone = true;
}
