#pragma once
// The benches' host: one render's objects from the host kit over a
// rendered-looking picture, with the shipped atlas as the image resource.
// Timed runs use velloq-host's own policy (no books, its picture memory);
// the floor check uses one that keeps books, whose ledger folds every call
// into a hash, to prove that two runs made the same host calls.

#include <cstdint>
#include <memory>
#include <vector>

#include "host/owned_ref.hpp"
#include "host_kit/host_objects.hpp"
#include "plugin/identity.hpp"
#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

// What the bench host answers where it matters for the hook's host calls.
inline constexpr std::int32_t bench_host_version = 440500;
inline constexpr std::int32_t bench_gi_method = 1;  // path tracing: asks for the caching state

// Books kept, objects deleted by their last Release, as velloq-host's are.
using bench_recorded = host_kit::policy<host_kit::lifetime::deleting, true>;

// The shipped atlas's file, read once; every load decodes it afresh, as the
// reference host decodes its module's resource.
inline const std::vector<unsigned char>& shipped_atlas_file() {
  static const std::vector<unsigned char> bytes =
      read_file_bytes(VELLOQ_SOURCE_DIR "/resources/ascii.tga", max_picture_file_bytes);
  return bytes;
}

// A rendered-looking picture: a colour ramp, dark at the bottom left, with
// alpha 0 as a renderer leaves its background.
template <class Picture>
void paint_render_picture(Picture& picture) {
  const std::int32_t width = picture.width(), height = picture.height();
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      picture.at(x, y) = Bgra8{static_cast<std::uint8_t>(255 * x / width),
                               static_cast<std::uint8_t>(255 * (height - 1 - y) / height),
                               static_cast<std::uint8_t>(96), 0};
    }
  }
}

template <class Policy = velloq_host_policy>
struct bench_host {
  using picture_type = host_kit::picture<Policy>;

  bench_host(std::int32_t width, std::int32_t height)
      : picture(new picture_type(width, height)),
        services(new host_kit::services<Policy>(atlas_resources(), "Vorlen 12.0.0 build 440500")),
        settings(new host_kit::settings<Policy>(
            host_kit::render_facts{identity().path_tracing, bench_gi_method, true, 1250, 63410})),
        application(
            new host_kit::application<Policy>(bench_host_version, *services, settings.get())),
        job(new host_kit::job<Policy>(*application, false, picture.get())) {
    paint_render_picture(*picture);
    if constexpr (Policy::keeps_books) {
      ledger.hash_calls = true;
      picture->enlist(ledger, "image");
      services->enlist(ledger, "services");
      settings->enlist(ledger, "settings");
      application->enlist(ledger, "application");
      job->enlist(ledger, "job");
    }
  }

  // Only a policy with books writes into it; first, so that it goes last.
  host_kit::ledger ledger;
  owned_ref<picture_type> picture;
  owned_ref<host_kit::services<Policy>> services;
  owned_ref<host_kit::settings<Policy>> settings;
  owned_ref<host_kit::application<Policy>> application;
  owned_ref<host_kit::job<Policy>> job;

 private:
  static host_kit::module_resources<Policy> atlas_resources() {
    host_kit::module_resources<Policy> resources;
    resources.image = [](const char*) {
      const std::vector<unsigned char>& file = shipped_atlas_file();
      host_image_ptr atlas = decode_tga(file.data(), file.size());
      if constexpr (std::is_same_v<picture_type, memory_image>) {
        return std::unique_ptr<picture_type>(atlas.release());
      } else {
        auto copy = std::make_unique<picture_type>(atlas->width(), atlas->height());
        std::copy(atlas->pixels().begin(), atlas->pixels().end(), copy->pixels().begin());
        return copy;
      }
    };
    return resources;
  }
};
