// velloq-host's PNG reader (whole frames at once, and streamed) against
// stb's and libpng's, and its writer's compression choices (whole frames
// in one call, blocks of rows on one or two threads, levels), on the
// pictures velloq-host meets: the built-in
// scene at 1920x1080 as the plug-in leaves it (opaque; clean gradients and
// flat areas) and the PNG files named on the command line (bench/pipeline
// passes a frame of the scene and a noisy one, as third-party tools wrote
// them). Prints milliseconds (median of the runs) and bytes.
//
//   bench_png_codec [runs] [picture.png ...]
//   bench_png_codec --check     one encode and decode, compared

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/median_time.hpp"
#include "refhost/files/file_io.hpp"
#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/png_codec.hpp"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

using bytes = std::vector<unsigned char>;

void decode_with_stb(const bytes& file) {
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width,
                                          &height, &channels, 4);
  if (pixels == nullptr)
    std::exit(1);
  stbi_image_free(pixels);
}

void decode_with_libpng(const bytes& file) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
    std::exit(1);
  image.format = PNG_FORMAT_BGRA;
  bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    std::exit(1);
}

std::size_t encoded_size(const memory_image& picture, const png_compression& choices,
                         int spare_threads) {
  std::size_t size = 0;
  write_png(
      picture, [&size](const unsigned char*, std::size_t piece) { size += piece; }, spare_threads,
      choices);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::string(argv[1]) == "--check";
  const int runs = argc > 1 && !check ? std::max(1, std::atoi(argv[1])) : check ? 1 : 5;
  host_image_ptr scene = render_scene(1920, 1080, 0, 1);
  for (Bgra8& pixel : scene->pixels()) pixel.alpha = 255;
  if (check) {
    const bytes file = encode_png(*scene);
    const host_image_ptr back = decode_png(file.data(), file.size());
    return std::memcmp(back->pixels().data(), scene->pixels().data(),
                       scene->pixels().size() * sizeof(Bgra8)) == 0
               ? 0
               : 1;
  }
  struct named_file {
    std::string name;
    bytes file;
  };
  std::vector<named_file> pictures = {{"scene", encode_png(*scene)}};
  for (int i = 2; i < argc; ++i) pictures.push_back({argv[i], read_file_bytes(argv[i], 1u << 30)});

  std::printf("%-28s %-34s %9s %10s\n", "picture", "what", "ms", "bytes");
  for (const named_file& p : pictures) {
    // The end of a long path: the folder tells the pictures apart.
    const char* name = p.name.c_str() + (p.name.size() > 28 ? p.name.size() - 28 : 0);
    std::printf("%-28.28s %-34s %9.1f\n", name, "read: velloq-host",
                median_ms(runs, [&] { decode_png(p.file.data(), p.file.size()); }));
    std::printf("%-28.28s %-34s %9.1f\n", name, "read: velloq-host, streamed", median_ms(runs, [&] {
                  decode_png(memory_source(p.file.data(), p.file.size()), 0);
                }));
    std::printf("%-28.28s %-34s %9.1f\n", name, "read: stb_image",
                median_ms(runs, [&] { decode_with_stb(p.file); }));
    std::printf("%-28.28s %-34s %9.1f\n", name, "read: libpng (simplified API)",
                median_ms(runs, [&] { decode_with_libpng(p.file); }));
    host_image_ptr image = decode_png(p.file.data(), p.file.size());
    for (Bgra8& pixel : image->pixels()) pixel.alpha = 255;  // as the plug-in leaves it
    struct choice {
      const char* what;
      png_compression settings;
      int spare_threads;
    };
    const std::size_t whole = std::size_t{1} << 30;  // whole frames in every build
    const choice choices[] = {
        {"write: velloq-host's choice", {}, 0},
        {"write: whole, all flat, level 5", {5, 0, whole}, 0},
        {"write: whole, all flat, level 6", {6, 0, whole}, 0},
        {"write: whole, all flat, level 7", {7, 0, whole}, 0},
        {"write: whole, all textured", {6, 257, whole}, 0},
        {"write: blocks, 1 thread", {6, 64, 0}, 0},
        {"write: blocks, 2 threads", {6, 64, 0}, 1},
        {"write: blocks, all flat, level 5", {5, 0, 0}, 0},
        {"write: blocks, all textured", {6, 257, 0}, 0},
    };
    for (const choice& c : choices) {
      std::size_t size = 0;
      const double ms =
          median_ms(runs, [&] { size = encoded_size(*image, c.settings, c.spare_threads); });
      std::printf("%-28.28s %-34s %9.1f %10zu\n", name, c.what, ms, size);
    }
  }
  return 0;
}
