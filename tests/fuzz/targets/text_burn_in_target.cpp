#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

// A picture that counts every call made on it and every access outside it.
// The fuzz body owns it; references are counted, never acted on.
class probe_image final : public HostImage {
 public:
  probe_image(std::int32_t picture_width, std::int32_t picture_height, Bgra8 fill)
      : width(picture_width),
        height(picture_height),
        pixels(static_cast<std::size_t>(picture_width) * static_cast<std::size_t>(picture_height),
               fill) {}

  std::uint32_t VELLOQ_THISCALL AddRef() override { return ++references; }
  std::uint32_t VELLOQ_THISCALL Release() override { return --references; }
  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t) override {
    ++size_calls;
    *size = ImageSize{width, height};
  }
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t) override {
    ++reads;
    if (!inside(x, y)) {
      ++outside;
      return;
    }
    *pixel = at(x, y);
  }
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t) override {
    ++writes;
    if (!inside(x, y)) {
      ++outside;
      return;
    }
    at(x, y) = *pixel;
  }

  bool inside(std::int64_t x, std::int64_t y) const {
    return x >= 0 && y >= 0 && x < width && y < height;
  }
  Bgra8& at(std::int64_t x, std::int64_t y) {
    return pixels[static_cast<std::size_t>(y * width + x)];
  }
  void clear_counts() { size_calls = reads = writes = outside = 0; }

  std::int32_t width;
  std::int32_t height;
  std::vector<Bgra8> pixels;
  std::uint32_t references = 1;
  std::int64_t size_calls = 0;
  std::int64_t reads = 0;
  std::int64_t writes = 0;
  std::int64_t outside = 0;
};

// Host objects the begin hook needs: services that hand out the atlas, an
// application that offers them, and a job. Nothing else is asked of them.
class atlas_services final : public HostServices {
 public:
  explicit atlas_services(probe_image& atlas) : atlas_(atlas) {}
  std::uint32_t VELLOQ_THISCALL AddRef() override { return 1; }
  std::uint32_t VELLOQ_THISCALL Release() override { return 1; }
  const char* VELLOQ_THISCALL get_localized_string(const char*) override { return ""; }
  HostImage* VELLOQ_THISCALL load_image_resource(const char*) override {
    atlas_.AddRef();
    return &atlas_;
  }
  const char* VELLOQ_THISCALL get_version_text() override { return ""; }

 private:
  probe_image& atlas_;
};

class bare_application final : public HostApplication {
 public:
  explicit bare_application(HostServices& services) : services_(services) {}
  std::uint32_t VELLOQ_THISCALL AddRef() override { return 1; }
  std::uint32_t VELLOQ_THISCALL Release() override { return 1; }
  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override { return 440500; }
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override { return &services_; }
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override { return nullptr; }

 private:
  HostServices& services_;
};

class bare_job final : public RenderJob {
 public:
  std::uint32_t VELLOQ_THISCALL AddRef() override { return 1; }
  std::uint32_t VELLOQ_THISCALL Release() override { return 1; }
  bool VELLOQ_THISCALL is_aborted(std::int32_t) override { return false; }
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override { return nullptr; }
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override { return nullptr; }
};

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
  probe_image atlas(shipped.width(), shipped.height(), Bgra8{0, 0, 0, 0});
  atlas.pixels.assign(shipped.pixels().begin(), shipped.pixels().end());
  probe_image image(width, height, fill);
  atlas_services services(atlas);
  bare_application application(services);
  bare_job job;

  velloq_component* component = velloq_component::create();
  IUnknown* unknown = component;
  unknown->AddRef();
  component->begin_render(&job, &application, 0);
  require(
      component->glyph_cell_width() == cell_width && component->glyph_cell_height() == cell_height,
      "the begin hook did not take the atlas's cell size");
  atlas.clear_counts();

  const ImageSize picture{width, height};
  const TextBlock block = component->compute_text_block(picture, report);
  const float mean = component->mean_luminance(&image, picture, block);
  const std::int32_t last_y =
      component->draw_text(&image, text, mean > 0.5f, block.left, block.top);
  component->fill_alpha(&image, 1.0f);
  unknown->Release();

  require(image.outside == 0, "a host call reached outside the picture");
  require(atlas.outside == 0, "a host call reached outside the atlas");
  require(atlas.references == 1, "the component did not give back the atlas exactly once");
  require(image.references == 1, "the picture's references changed");

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
  require(image.size_calls == expected.size_calls + 1, "wrong number of get_size calls");
  require(atlas.reads == expected.atlas_reads, "wrong number of atlas reads");
  require(atlas.writes == 0 && atlas.size_calls == 0, "the atlas was written or measured");
  require(image.reads == block_pixels + expected.covered_pixels + area,
          "wrong number of picture reads");
  require(image.writes == expected.covered_pixels + area, "wrong number of picture writes");

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
