#include "validator/contract_host.hpp"

#include <cstring>

namespace {

// A picture no plug-in could mistake for a flat colour: every byte varies.
void fill_with_pattern(contract_image& image) {
  auto& pixels = image.pixels();
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    std::uint32_t h = static_cast<std::uint32_t>(i) * 2654435761u;
    h ^= h >> 15;
    pixels[i] = Bgra8{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                      static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 24)};
  }
}

contract_image& patterned(contract_image& image) {
  fill_with_pattern(image);
  return image;
}

}  // namespace

contract_frame::contract_frame(host_kit::ledger& ledger, contract_application& application,
                               std::int32_t width, std::int32_t height, bool aborted)
    : image(width, height),
      original(patterned(image).pixels().begin(), image.pixels().end()),
      job(application, aborted, &image) {
  image.enlist(ledger, "the output image");
  job.enlist(ledger, "RenderJob");
  image.books().role = host_kit::object_role::owned;
  job.books().role = host_kit::object_role::lent;
}

bool contract_frame::picture_changed() const {
  return std::memcmp(image.pixels().data(), original.data(), original.size() * sizeof(Bgra8)) != 0;
}

contract_host::contract_host(module_resources resources)
    : settings(host_kit::render_facts{Uuid{{1, 0, 0, 0}}, 1, true, 1500, 61234}),
      services(std::move(resources), "Vorlen 12.0.0 build 440487") {
  // The host hands out only the objects it must: its services are borrowed.
  ledger.borrowed_may_be_null = false;
  settings.enlist(ledger, "RenderSettings");
  services.enlist(ledger, "HostServices");
  application.enlist(ledger, "HostApplication");
  job_application.enlist(ledger, "the HostApplication of RenderJob::get_application");
  settings.books().role = job_application.books().role = host_kit::object_role::owned;
  services.books().role = application.books().role = host_kit::object_role::lent;
  // notify_image_changed tells the host the picture changed: it must have.
  ledger.observer = [this](const host_kit::object_books&, host_kit::call c) {
    if (c == host_kit::call::notify_image_changed && !frames.empty() &&
        !frames.back()->picture_changed())
      ++frames.back()->notified_unchanged;
  };
}

void contract_host::retire() {
  settings.books().gone = services.books().gone = application.books().gone = true;
  job_application.books().gone = true;
  for (auto& frame : frames) frame->image.books().gone = frame->job.books().gone = true;
  for (auto& image : services.loaded) image->books().gone = true;
}
