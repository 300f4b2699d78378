// JPEG read and written by the build's library (libjpeg-turbo natively,
// stb's in the Windows build), and natively by stb's too, which is what the
// Windows build runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "refhost/pictures/jpeg/jpeg_markers.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/png/png_colour_profile.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

bytes seed(const std::string& name) {
  std::ifstream in(VELLOQ_SOURCE_DIR "/tests/fuzz/corpus/jpeg_reader/" + name, std::ios::binary);
  return bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct jpeg_library {
  const char* name;
  picture (*read)(const byte_source&);
  void (*write)(const memory_image&, bool, const std::vector<unsigned char>&, const byte_sink&,
                int);
};

const jpeg_library libraries[] = {
#if VELLOQ_HAS_LIBJPEG
    {"libjpeg-turbo", read_jpeg_libjpeg, write_jpeg_libjpeg},
#endif
    {"stb", read_jpeg_stb, write_jpeg_stb},
};

picture read_with(const jpeg_library& library, const bytes& file) {
  return library.read(memory_source(file.data(), file.size()));
}

bytes written_with(const jpeg_library& library, const memory_image& view, bool grey,
                   const std::vector<unsigned char>& profile, int quality) {
  bytes out;
  library.write(
      view, grey, profile,
      [&](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      quality);
  return out;
}

// The largest difference of a channel between two pictures of one size.
int largest_difference(const memory_image& a, const memory_image& b) {
  int largest = 0;
  for (std::size_t i = 0; i < a.pixels().size(); ++i) {
    const Bgra8& p = a.pixels()[i];
    const Bgra8& q = b.pixels()[i];
    for (const int d : {p.blue - q.blue, p.green - q.green, p.red - q.red, p.alpha - q.alpha})
      largest = std::max(largest, std::abs(d));
  }
  return largest;
}

// Smooth colours, as renders mostly are, so that JPEG keeps them closely.
host_image_ptr smooth_picture(std::int32_t width, std::int32_t height) {
  host_image_ptr image = make_host_image(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      image->at(x, y) = Bgra8{static_cast<std::uint8_t>(x * 255 / width),
                              static_cast<std::uint8_t>(y * 255 / height),
                              static_cast<std::uint8_t>(100 + x + y), 255};
    }
  }
  return image;
}

}  // namespace

TEST(jpeg_codec, ReadsBaselineProgressiveGreyAndProfiles) {
  for (const jpeg_library& library : libraries) {
    SCOPED_TRACE(library.name);
    const picture baseline = read_with(library, seed("baseline_48x32.jpg"));
    EXPECT_EQ(baseline.view->width(), 48);
    EXPECT_EQ(baseline.view->height(), 32);
    EXPECT_FALSE(baseline.source.grey);
    // jpegtran made the progressive files from the others without touching
    // their coefficients: the same decoder gives the same pixels.
    const picture progressive = read_with(library, seed("progressive_48x32.jpg"));
    EXPECT_TRUE(same_picture(*baseline.view, *progressive.view));
    const picture with_profile = read_with(library, seed("icc_444_restart_33x17.jpg"));
    const picture progressive_profile = read_with(library, seed("progressive_icc_33x17.jpg"));
    EXPECT_TRUE(same_picture(*with_profile.view, *progressive_profile.view));
    ASSERT_EQ(with_profile.source.icc_profile.size(), 3000u);
    EXPECT_EQ(std::string(with_profile.source.icc_profile.begin() + 36,
                          with_profile.source.icc_profile.begin() + 40),
              "acsp");
    EXPECT_EQ(progressive_profile.source.icc_profile, with_profile.source.icc_profile);
    const picture grey = read_with(library, seed("grey_48x32.jpg"));
    EXPECT_TRUE(grey.source.grey);
    for (const Bgra8& pixel : grey.view->pixels())
      ASSERT_TRUE(pixel.red == pixel.green && pixel.green == pixel.blue && pixel.alpha == 255);
  }
}

TEST(jpeg_codec, RefusesFilesCutShortDamagedOrOfKindsItDoesNotRead) {
  const bytes baseline = seed("baseline_48x32.jpg");
  bytes cmyk = baseline;
  bytes twelve_bit = baseline;
  bytes bomb = baseline;  // 1.3 KB that claim 16384x16384 pixels
  bytes broken_profile = seed("icc_444_restart_33x17.jpg");
  for (std::size_t at = 2; at + 9 < baseline.size(); ++at) {
    if (baseline[at] == 0xFF && baseline[at + 1] == 0xC0) {
      twelve_bit[at + 4] = 12;
      cmyk[at + 9] = 4;
      bomb[at + 5] = bomb[at + 7] = 0x40;
      bomb[at + 6] = bomb[at + 8] = 0;
    }
  }
  // The profile's one chunk says it is one of two.
  for (std::size_t at = 0; at + 14 < broken_profile.size(); ++at) {
    if (std::string(broken_profile.begin() + at, broken_profile.begin() + at + 11) == "ICC_PROFILE")
      broken_profile[at + 13] = 2;
  }
  for (const jpeg_library& library : libraries) {
    SCOPED_TRACE(library.name);
    // Every cut past the headers is refused, never stamped as far as it goes.
    for (std::size_t length = 2; length < baseline.size(); length += 7) {
      EXPECT_THROW(read_with(library, bytes(baseline.begin(), baseline.begin() + length)),
                   image_format_error)
          << length;
    }
    const auto refusal = [&](const bytes& file) {
      try {
        read_with(library, file);
      } catch (const image_format_error& error) {
        return std::string(error.what());
      }
      return std::string("(accepted)");
    };
    EXPECT_NE(refusal(cmyk), "(accepted)");
    EXPECT_NE(refusal(bomb), "(accepted)");
    EXPECT_NE(refusal(twelve_bit).find("12"), std::string::npos) << refusal(twelve_bit);
    EXPECT_NE(refusal(broken_profile).find("ICC"), std::string::npos) << refusal(broken_profile);
  }
}

TEST(jpeg_codec, EachLibraryReadsWhatEitherWritesWithItsProfile) {
  const host_image_ptr smooth = smooth_picture(64, 48);
  const std::vector<unsigned char> profile(700, 0x5A);
  for (const jpeg_library& writer : libraries) {
    for (const int quality : {95, 90, 40}) {
      const bytes file = written_with(writer, *smooth, false, profile, quality);
      EXPECT_FALSE(read_jpeg_structure(file.data(), file.size()).progressive);
      for (const jpeg_library& reader : libraries) {
        SCOPED_TRACE(std::string(writer.name) + " to " + reader.name + " at " +
                     std::to_string(quality));
        const picture read = read_with(reader, file);
        EXPECT_LE(largest_difference(*smooth, *read.view), quality >= 90 ? 12 : 40);
        EXPECT_EQ(read.source.icc_profile, profile);
      }
    }
  }
  // Quality decides the size, and above 90 the colour's resolution.
  const host_image_ptr noisy = make_test_picture(64, 48);
  for (Bgra8& pixel : noisy->pixels()) pixel.alpha = 255;
  for (const jpeg_library& writer : libraries) {
    EXPECT_GT(written_with(writer, *noisy, false, {}, 95).size(),
              written_with(writer, *noisy, false, {}, 90).size() * 5 / 4)
        << writer.name;
  }
}

TEST(jpeg_codec, APictureKeepsItsProfileAndGreyOnTheWayOut) {
  // A PNG's iCCP chunk gives its profile to a JPEG.
  const std::vector<unsigned char> profile(5000, 0x33);
  picture stamped;
  stamped.view = smooth_picture(40, 30);
  stamped.source.png_chunks.push_back(png_chunk{{'i', 'C', 'C', 'P'}, iccp_chunk_data(profile)});
  bytes out;
  const byte_sink sink = [&](const unsigned char* data, std::size_t size) {
    out.insert(out.end(), data, data + size);
  };
  write_jpeg(stamped, sink, 90);
  EXPECT_EQ(read_jpeg(out.data(), out.size()).source.icc_profile, profile);

  // A grey file's picture that is still grey is written grey where the
  // library can, and reads back grey either way.
  for (Bgra8& pixel : stamped.view->pixels()) pixel.blue = pixel.green = pixel.red;
  stamped.source.grey = true;
  out.clear();
  write_jpeg(stamped, sink, 90);
  const picture grey = read_jpeg(out.data(), out.size());
  EXPECT_LE(largest_difference(*stamped.view, *grey.view), 12);
#if VELLOQ_HAS_LIBJPEG
  EXPECT_EQ(read_jpeg_structure(out.data(), out.size()).components, 1u);
#endif
  // Drawn on in colour, it is written in colour without its grey profile.
  stamped.view->at(3, 3) = Bgra8{0, 0, 255, 255};
  out.clear();
  write_jpeg(stamped, sink, 90);
  EXPECT_EQ(read_jpeg_structure(out.data(), out.size()).components, 3u);
  EXPECT_TRUE(read_jpeg(out.data(), out.size()).source.icc_profile.empty());

  EXPECT_EQ(jpeg_size_limitation(65500, 1), "");
  EXPECT_NE(jpeg_size_limitation(65501, 1), "");
}
