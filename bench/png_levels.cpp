// How zlib's compression level and stb's row filter trade time for size on
// the pictures velloq-host writes: the built-in scene at 1920x1080 (clean
// gradients and flat areas) and the picture files named on the command
// line (bench/pipeline passes a photo-like plasma fractal), made opaque as
// the plug-in leaves them, encoded at every level with each filter choice.
// Prints milliseconds (median of the runs) and bytes.
//
//   bench_png_levels [runs] [picture.tga ...]
//   bench_png_levels --check     velloq-host's own choice only, once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/png_codec.hpp"

namespace {

std::vector<unsigned char> rgba_of(const memory_image& image) {
  std::vector<unsigned char> rgba;
  rgba.reserve(image.pixels().size() * 4);
  for (const Bgra8& pixel : image.pixels())
    rgba.insert(rgba.end(), {pixel.red, pixel.green, pixel.blue, 255});
  return rgba;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::string(argv[1]) == "--check";
  const int runs = argc > 1 && !check ? std::max(1, std::atoi(argv[1])) : check ? 1 : 5;
  std::vector<std::pair<std::string, host_image_ptr>> pictures;
  pictures.emplace_back("scene", render_scene(1920, 1080, 0, 1));
  for (int i = 2; i < argc; ++i) pictures.emplace_back(argv[i], decode_image_file(argv[i]));
  std::printf("%-10s %9s %6s %5s %10s %12s\n", "picture", "size", "filter", "level", "ms", "bytes");
  for (const auto& [name, picture] : pictures) {
    const int width = picture->width();
    const int height = picture->height();
    const std::vector<unsigned char> rgba = rgba_of(*picture);
    for (int filter = -1; filter <= 4; ++filter)
      for (int level = 1; level <= 9; ++level) {
        if (check && (filter != png_row_filter || level != png_deflate_level))
          continue;
        stb_glue::set_png_filter(filter);
        std::vector<double> times;
        std::size_t bytes = 0;
        for (int run = 0; run < runs; ++run) {
          bytes = 0;
          const auto start = std::chrono::steady_clock::now();
          stb_glue::write_png([&bytes](const unsigned char*, std::size_t size) { bytes += size; },
                              width, height, rgba.data(), level);
          times.push_back(
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
        }
        std::sort(times.begin(), times.end());
        const bool chosen = level == png_deflate_level && filter == png_row_filter;
        std::printf("%-10.10s %4dx%-4d %6d %5d %10.1f %12zu%s\n", name.c_str(), width, height,
                    filter, level, times[times.size() / 2], bytes,
                    chosen ? "  <- velloq-host" : "");
      }
  }
  return 0;
}
