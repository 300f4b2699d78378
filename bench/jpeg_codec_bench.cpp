// JPEG through libjpeg-turbo (the native build's) and through stb's reader
// and writer (the Windows build's, where Debian has no JPEG library), on a
// 4K frame of the built-in scene as the plug-in leaves it and on a noisy
// one (grain, as photographs and path-traced frames have): reading
// baseline and progressive files, and writing at quality 90 and 95.
// Prints milliseconds (median of the runs) and bytes, and how far the
// decoded pixels lie from the picture written (largest and mean difference
// of a channel).
//
//   bench_jpeg_codec [runs] [width height]
//   bench_jpeg_codec --check     one write and read by each library

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// jpeglib.h takes size_t and FILE from what comes before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "bench/median_time.hpp"
#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/jpeg_codec.hpp"

namespace {

using bytes = std::vector<unsigned char>;

struct library {
  const char* name;
  picture (*read)(const byte_source&);
  void (*write)(const memory_image&, bool, const std::vector<unsigned char>&, const byte_sink&,
                int);
};

const library libraries[] = {
    {"libjpeg-turbo", read_jpeg_libjpeg, write_jpeg_libjpeg},
    {"stb", read_jpeg_stb, write_jpeg_stb},
};

bytes written(const library& with, const memory_image& image, int quality) {
  bytes out;
  with.write(
      image, false, {},
      [&](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      quality);
  return out;
}

// A progressive file of the picture (no writer of velloq-host makes one),
// through libjpeg's own memory destination; libjpeg ends the bench on error.
bytes progressive(const memory_image& image) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(image.width());
  info.image_height = static_cast<JDIMENSION>(image.height());
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(
        &image.at(0, static_cast<std::int32_t>(info.next_scanline))));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}

picture read(const library& with, const bytes& file) {
  return with.read(memory_source(file.data(), file.size()));
}

// The largest and the mean difference of a colour channel.
void differences(const memory_image& a, const memory_image& b, int* largest, double* mean) {
  long long sum = 0;
  *largest = 0;
  for (std::size_t i = 0; i < a.pixels().size(); ++i) {
    const Bgra8& p = a.pixels()[i];
    const Bgra8& q = b.pixels()[i];
    for (const int d : {p.blue - q.blue, p.green - q.green, p.red - q.red}) {
      *largest = std::max(*largest, std::abs(d));
      sum += std::abs(d);
    }
  }
  *mean = static_cast<double>(sum) / (3.0 * static_cast<double>(a.pixels().size()));
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  const int runs = argc > 1 && !check ? std::max(1, std::atoi(argv[1])) : 5;
  const std::int32_t width = check ? 320 : argc > 3 ? std::atoi(argv[2]) : 3840;
  const std::int32_t height = check ? 180 : argc > 3 ? std::atoi(argv[3]) : 2160;

  host_image_ptr scene = render_scene(width, height, 0, 1);
  for (Bgra8& pixel : scene->pixels()) pixel.alpha = 255;  // as the plug-in leaves it
  host_image_ptr noisy = render_scene(width, height, 0, 1);
  unsigned state = 12345;
  for (Bgra8& pixel : noisy->pixels()) {
    state = state * 1103515245u + 12345u;
    const int grain = static_cast<int>(state >> 27) - 16;
    for (std::uint8_t* channel : {&pixel.blue, &pixel.green, &pixel.red})
      *channel = static_cast<std::uint8_t>(std::clamp(*channel + grain, 0, 255));
    pixel.alpha = 255;
  }
  if (check) {
    for (const library& writer : libraries) {
      for (const library& reader : libraries) {
        int largest = 0;
        double mean = 0;
        differences(*scene, *read(reader, written(writer, *scene, 90)).view, &largest, &mean);
        if (mean > 2.0)
          return 1;
      }
    }
    return 0;
  }

  struct subject {
    const char* name;
    const memory_image& image;
  };
  const subject subjects[] = {{"scene", *scene}, {"noisy", *noisy}};
  std::printf("%dx%d, median of %d runs\n", width, height, runs);
  std::printf("%-7s %-14s %-28s %9s %10s %8s %6s\n", "picture", "library", "what", "ms", "bytes",
              "largest", "mean");
  for (const subject& s : subjects) {
    for (const library& with : libraries) {
      for (const int quality : {90, 95}) {
        bytes file;
        const double ms = median_ms(runs, [&] { file = written(with, s.image, quality); });
        int largest = 0;
        double mean = 0;
        differences(s.image, *read(with, file).view, &largest, &mean);
        std::printf("%-7s %-14s write at quality %-12d %9.1f %10zu %8d %6.2f\n", s.name, with.name,
                    quality, ms, file.size(), largest, mean);
      }
      // The same files for both readers: libjpeg-turbo's, at quality 90.
      const bytes baseline = written(libraries[0], s.image, 90);
      std::printf("%-7s %-14s %-28s %9.1f\n", s.name, with.name, "read baseline (4:2:0)",
                  median_ms(runs, [&] { read(with, baseline); }));
      const bytes stepwise = progressive(s.image);
      std::printf("%-7s %-14s %-28s %9.1f\n", s.name, with.name, "read progressive (4:2:0)",
                  median_ms(runs, [&] { read(with, stepwise); }));
    }
  }
  return 0;
}
