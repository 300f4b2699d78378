#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host_kit/host_objects.hpp"
#include "plugin/velloq_component.hpp"
#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"

namespace {

constexpr const char* burn_in_target = "fuzz_text_burn_in";
constexpr std::size_t picture_bytes = 6;
constexpr std::int32_t largest_side = 64;
// The shipped atlas is 16 x 6 cells of 8 x 12 pixels.
constexpr std::int32_t cell_width = 8;
constexpr std::int32_t cell_height = 12;
constexpr std::int32_t margin = 2;
// The pen position first, then the eight outline offsets; the order does
// not matter for which pixels are visited.
constexpr int draw_offsets[9][2] = {{0, 0},  {+1, +1}, {0, +1}, {-1, +1}, {+1, 0},
                                    {-1, 0}, {+1, -1}, {0, -1}, {-1, -1}};

void require(bool holds, const char* property) {
  fuzz_require(holds, burn_in_target, property);
}

// The host: the kit's objects with books, kept by the fuzz body, which
// judges the calls and references they count. The begin hook needs no
// more than the atlas, an application that offers it, and a job.
using probe_policy = host_kit::recorded;
using probe_image = host_kit::picture<probe_policy>;

std::int64_t calls_of(const probe_image& image, host_kit::call c) {
  return image.books().count(c);
}

const memory_image& shipped_atlas() {
  static const host_image_ptr atlas = [] {
    host_image_ptr decoded;
    try {
      const std::vector<unsigned char> bytes =
          read_file_bytes(VELLOQ_SOURCE_DIR "/resources/ascii.tga", max_picture_file_bytes);
      decoded = decode_tga(bytes.data(), bytes.size());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "%s: %s\n", burn_in_target, error.what());
    }
    require(decoded && decoded->width() == 16 * cell_width && decoded->height() == 6 * cell_height,
            "cannot read the shipped atlas");
    return decoded;
  }();
  return *atlas;
}

// What the drawing rules say the burn-in of `text` at (left, top) does.
struct expected_drawing {
  std::int64_t size_calls = 0;      // on the target, one per drawn glyph
  std::int64_t atlas_reads = 0;     // one per cell pixel inside the target
  std::int64_t covered_pixels = 0;  // atlas coverage above 0: read and written
  std::vector<bool> touched;        // target pixels some draw writes
};

expected_drawing model_drawing(const memory_image& atlas, const char* text, std::int32_t width,
                               std::int32_t height, std::int64_t left, std::int64_t top) {
  expected_drawing expected;
  expected.touched.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                          false);
  std::int64_t pen_x = left;
  std::int64_t pen_y = top;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      pen_y += cell_height;
      pen_x = left;
      continue;
    }
    const int n = static_cast<unsigned char>(*p) - 0x20;
    if (n >= 0 && n <= 94) {
      expected.size_calls += 9;
      for (const auto& offset : draw_offsets) {
        const std::int64_t x = pen_x + offset[0];
        const std::int64_t y = pen_y + offset[1];
        if (x >= width || y >= height || x + cell_width <= 0 || y + cell_height <= 0)
          continue;
        for (std::int32_t i = 0; i < cell_height; ++i) {
          for (std::int32_t k = 0; k < cell_width; ++k) {
            const std::int64_t tx = x + k;
            const std::int64_t ty = y + i;
            if (tx < 0 || ty < 0 || tx >= width || ty >= height)
              continue;
            ++expected.atlas_reads;
            const Bgra8& glyph = atlas.at(cell_width * (n % 16) + k, cell_height * (n / 16) + i);
            if (glyph.alpha == 0)
              continue;
            ++expected.covered_pixels;
            expected.touched[static_cast<std::size_t>(ty * width + tx)] = true;
          }
        }
      }
    }
    pen_x += cell_width;
  }
  return expected;
}

}  // namespace

int fuzz_text_burn_in(const std::uint8_t* data, std::size_t size) {
  if (size < picture_bytes)
    return 0;
  const std::int32_t width = data[0] % (largest_side + 1);
  const std::int32_t height = data[1] % (largest_side + 1);
  const Bgra8 fill{data[2], data[3], data[4], data[5]};
  // The whole rest, NULs included; every operation reads it up to the first.
  const RenderReport report(reinterpret_cast<const char*>(data + picture_bytes),
                            size - picture_bytes);
  const char* text = report.c_str();

  const memory_image& shipped = shipped_atlas();
  host_kit::ledger ledger;
  host_kit::module_resources<probe_policy> resources;
  resources.image = [&shipped](const char*) {
    auto atlas = std::make_unique<probe_image>(shipped.width(), shipped.height());
    std::copy(shipped.pixels().begin(), shipped.pixels().end(), atlas->pixels().begin());
    return atlas;
  };
  host_kit::services<probe_policy> services(resources, "");
  services.enlist(ledger, "services");
  host_kit::application<probe_policy> application(440500, services);
  host_kit::job<probe_policy> job(application, false);
  probe_image image(width, height, fill);
  image.enlist(ledger, "image");

  velloq_component* component = velloq_component::create();
  IUnknown* unknown = component;
  unknown->AddRef();
  component->begin_render(&job, &application, 0);
  require(
      component->glyph_cell_width() == cell_width && component->glyph_cell_height() == cell_height,
      "the begin hook did not take the atlas's cell size");
  require(services.loaded.size() == 1, "the begin hook did not load the atlas once");
  probe_image& atlas = *services.loaded.front();
  ledger.clear_counts();

  const ImageSize picture{width, height};
  const TextBlock block = component->compute_text_block(picture, report);
  const float mean = component->mean_luminance(&image, picture, block);
  const std::int32_t last_y =
      component->draw_text(&image, text, mean > 0.5f, block.left, block.top);
  component->fill_alpha(&image, 1.0f);
  unknown->Release();

  require(image.books().outside_accesses == 0, "a host call reached outside the picture");
  require(atlas.books().outside_accesses == 0, "a host call reached outside the atlas");
  require(atlas.books().held() == 0, "the component did not give back the atlas exactly once");
  require(image.books().held() == 0, "the picture's references changed");

  // Placement: closed lines only, 2 pixels from the left and bottom edges.
  std::int64_t breaks = 0;
  std::int64_t current = 0;
  std::int64_t longest = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      ++breaks;
      longest = std::max(longest, current);
      current = 0;
    } else {
      ++current;
    }
  }
  require(block.left == margin && block.bottom == height - margin &&
              block.top == height - margin - breaks * cell_height &&
              block.right == longest * cell_width + margin,
          "the text block is not where the placement rules put it");
  require(last_y == block.top + breaks * cell_height, "draw_text ended on the wrong line");

  // Contrast: the picture is one colour, so its mean is that colour's.
  const std::int64_t block_rows =
      std::max<std::int64_t>(0, std::min(block.bottom, height) - std::max(block.top, 0));
  const std::int64_t block_columns =
      std::max<std::int64_t>(0, std::min(block.right, width) - std::max(block.left, 0));
  const std::int64_t block_pixels = block_rows * block_columns;
  if (block_pixels == 0) {
    require(std::isnan(mean), "the mean of no pixel is a number");
  } else {
    const double luminance = (0.299 * fill.red + 0.587 * fill.green + 0.114 * fill.blue) / 255.0;
    require(std::fabs(mean - luminance) < 1e-5, "the mean luminance of a plain picture is off");
  }

  // Host traffic: the luminance reads, nine draws per drawable character,
  // then one read and one write per pixel for the opacity.
  const expected_drawing expected =
      model_drawing(shipped, text, width, height, block.left, block.top);
  const std::int64_t area = std::int64_t{width} * height;
  using host_kit::call;
  require(calls_of(image, call::get_size) == expected.size_calls + 1,
          "wrong number of get_size calls");
  require(calls_of(atlas, call::get_pixel) == expected.atlas_reads, "wrong number of atlas reads");
  require(calls_of(atlas, call::set_pixel) == 0 && calls_of(atlas, call::get_size) == 0,
          "the atlas was written or measured");
  require(calls_of(image, call::get_pixel) == block_pixels + expected.covered_pixels + area,
          "wrong number of picture reads");
  require(calls_of(image, call::set_pixel) == expected.covered_pixels + area,
          "wrong number of picture writes");

  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const Bgra8& pixel = image.at(x, y);
      require(pixel.alpha == 255, "a pixel is not opaque after the opacity fill");
      if (!expected.touched[static_cast<std::size_t>(y) * width + x]) {
        require(pixel.blue == fill.blue && pixel.green == fill.green && pixel.red == fill.red,
                "a pixel no glyph covers changed colour");
      }
    }
  }
  return 0;
}
