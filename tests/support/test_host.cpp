#include "tests/support/test_host.hpp"

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace {

// Pixels are stored only for images up to this many; larger answered sizes
// model a host image that claims a size without holding it.
constexpr std::int64_t stored_pixel_limit = std::int64_t{1} << 24;

bool stores_pixels(std::int32_t width, std::int32_t height) {
  return width >= 0 && height >= 0 && std::int64_t{width} * height <= stored_pixel_limit;
}

std::int32_t stored(std::int32_t extent, std::int32_t width, std::int32_t height) {
  return stores_pixels(width, height) ? extent : 0;
}

}  // namespace

host_kit::module_resources<test_policy> test_host::resources() {
  host_kit::module_resources<test_policy> resources;
  resources.text = [this](const char* id) -> const char* {
    auto it = strings.find(id);
    return it == strings.end() ? "" : it->second.c_str();
  };
  resources.image = [this](const char* name) {
    requested_names.emplace_back(name);
    auto atlas = std::make_unique<test_image>(atlas_width, atlas_height);
    if (!atlas_pixels.empty() && atlas_pixels.size() == atlas->pixels().size())
      std::copy(atlas_pixels.begin(), atlas_pixels.end(), atlas->pixels().begin());
    atlas->enlist(ledger, "atlas" + std::to_string(services.loaded.size() + 1));
    return atlas;
  };
  return resources;
}

test_host::test_host(std::int32_t width, std::int32_t height, Bgra8 fill)
    : services(resources(), "Vorlen 12.0.0 build 440500"),
      image(stored(width, width, height), stored(height, width, height), fill) {
  if (!stores_pixels(width, height))
    image.claim_size(ImageSize{width, height});
  settings.enlist(ledger, "settings");
  services.enlist(ledger, "services");
  application.enlist(ledger, "application");
  image.enlist(ledger, "image");
  job.enlist(ledger, "job");
}

std::vector<std::string> test_host::reference_problems(bool atlas_may_be_held) const {
  std::vector<std::string> problems = ledger.errors;
  auto check = [&](const char* name, std::int64_t held, std::int64_t releases, bool borrowed) {
    if (held != 0)
      problems.push_back(std::string(name) + " still held " + std::to_string(held));
    if (borrowed && releases != 0)
      problems.push_back(std::string(name) + " borrowed but released");
  };
  check("image", image.books().held(), image.books().releases, false);
  check("application", application.books().held(), 0, false);
  check("settings", settings.books().held(), 0, false);
  check("job", job.books().held(), job.books().releases, true);
  check("services", services.books().held(), services.books().releases, true);
  for (std::size_t i = 0; i < services.loaded.size(); ++i) {
    const bool newest = i + 1 == services.loaded.size();
    const std::int64_t held = services.loaded[i]->books().held();
    if (held > ((newest && atlas_may_be_held) ? 1 : 0)) {
      problems.push_back("atlas " + std::to_string(i + 1) + " still held " + std::to_string(held));
    }
  }
  return problems;
}

void test_host::use_shipped_atlas() {
  atlas_pixels = shipped_atlas_pixels();
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
