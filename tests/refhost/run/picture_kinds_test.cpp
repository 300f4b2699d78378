// velloq-host on the pictures renderers and studios write: 16-bit PNG kept
// at its depth, PNG chunks that stay true, every kind of TGA, JPEG in and
// out, and formats it does not read refused before anything is written.

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "refhost/pictures/jpeg/jpeg_markers.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/picture_header.hpp"
#include "refhost/pictures/png/png_colour_profile.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "tests/refhost/run/cli_fixture.hpp"
#include "tests/support/png_builder.hpp"

namespace {

constexpr std::int32_t width = 480;
constexpr std::int32_t height = 360;

// The report sits in the bottom-left corner: nothing outside this box may
// change, whatever the machine's lines say.
bool inside_report(std::int32_t x, std::int32_t y) {
  return x < 420 && y >= 150;
}

// A 16-bit sample whose low byte matters: any rounding to 8 bits shows.
unsigned deep_sample(std::uint32_t x, std::uint32_t y, unsigned channel) {
  return (x * 2654435761u + y * 40503u + channel * 977u) >> 9 & 0xFFFF;
}

// Pixels where `expected` and `actual` differ, and whether all of them lie
// in the report's box.
struct changes {
  int count = 0;
  bool all_in_report = true;
};

changes compare(const memory_image& expected, const memory_image& actual, int tolerance = 0) {
  changes found;
  for (std::int32_t y = 0; y < expected.height(); ++y) {
    for (std::int32_t x = 0; x < expected.width(); ++x) {
      const Bgra8& p = expected.at(x, y);
      const Bgra8& q = actual.at(x, y);
      const bool differs = std::abs(p.blue - q.blue) > tolerance ||
                           std::abs(p.green - q.green) > tolerance ||
                           std::abs(p.red - q.red) > tolerance;
      found.count += differs;
      found.all_in_report = found.all_in_report && (!differs || inside_report(x, y));
    }
  }
  return found;
}

std::vector<unsigned char> tga_file(const memory_image& picture, const tga_storage& storage) {
  return encode_tga(picture, storage);
}

}  // namespace

TEST_F(cli, sixteen_bit_pngs_keep_every_sample_the_report_leaves) {
  // The TGA beside each PNG holds the stamped 8-bit view: where it keeps a
  // sample's 8-bit value the PNG keeps the sample, elsewhere it holds that
  // value at 16 bits.
  for (const unsigned colour_type : {2u, 6u, 0u, 4u}) {
    SCOPED_TRACE("colour type " + std::to_string(colour_type));
    const png_layout layout{width, height, 16, colour_type, false};
    const std::string in = input(
        "deep.png", build_png(layout, {}, zlib_stored(png_filtered_rows(layout, deep_sample))));
    fs::remove_all(out());
    const run_result r = run("--input " + in + " --format png,tga");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const picture stamped = read_picture_file((out() / "deep.png").string());
    const host_image_ptr view = read_output("deep.tga");
    const unsigned colours = colour_type == 0 || colour_type == 4 ? 1 : 3;
    // Opaque, as the plug-in leaves every picture: no alpha channel.
    ASSERT_EQ(stamped.deep.channel_count(), colours);
    int wrong = 0;
    int changed = 0;
    bool changes_in_report = true;
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint16_t* samples = stamped.deep.row(y);
      for (std::int32_t x = 0; x < width; ++x) {
        const Bgra8& drawn = view->at(x, y);
        const std::uint8_t channels_drawn[3] = {drawn.red, drawn.green, drawn.blue};
        for (unsigned c = 0; c < colours; ++c) {
          const unsigned before =
              deep_sample(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), c);
          const bool kept = channels_drawn[c] == before / 257;
          wrong += samples[x * colours + c] != (kept ? before : channels_drawn[c] * 257u);
          changed += !kept;
          changes_in_report = changes_in_report && (kept || inside_report(x, y));
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(changed, 1000);
    EXPECT_TRUE(changes_in_report);
  }
  // Beside its 8-bit view, a 16-bit grey and alpha picture takes its two
  // samples a pixel.
  EXPECT_EQ(read_picture_size((dir / "deep.png").string())->bytes_per_pixel, 4u + 2u * 2u);
}

TEST_F(cli, ancillary_chunks_survive_a_stamp) {
  const png_layout layout{width, height, 8, 2, false};
  const std::vector<unsigned char> profile(2000, 0x42);
  const auto text = [](const std::string& value) { return png_bytes(value.begin(), value.end()); };
  const png_chunk_list before = {
      {"gAMA", {0, 1, 0x86, 0xA0}},  // 1.0: a linear picture
      {"cHRM", png_bytes(32, 7)},
      {"iCCP", iccp_chunk_data(profile)},
      {"sRGB", {0}},
      {"sBIT", {5, 6, 5}},
      {"pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1}},
      {"tEXt", text(std::string("Software\0Vorlen", 15))},
      {"zTXt", text(std::string("Comment\0\0", 9))},
      {"iTXt", text(std::string("Title\0\0\0\0Shot 12", 16))},
      {"tIME", {0x07, 0xD0, 1, 2, 3, 4, 5}},
      {"bKGD", {0, 10, 0, 20, 0, 30}},
      {"sPLT", text(std::string("few\0\x08\x01\x02\x03\x04\x00\x05", 11))},
      {"vpAg", {1, 2, 3}},  // private, safe to copy
      {"prVT", {4, 5, 6}},  // private, not safe to copy once the pixels change
  };
  const png_chunk_list after = {{"tEXt", text(std::string("Comment\0after", 13))}};
  const std::string in = input(
      "shot.png",
      build_png(
          layout, before,
          zlib_stored(png_filtered_rows(
              layout, [](auto x, auto y, unsigned c) { return (x + y * 3 + c * 50) & 0xFF; })),
          after));
  const run_result r = run("--input " + in + " --format png,jpg");
  ASSERT_EQ(r.exit_code, 0) << r.output;

  // What the stamp leaves true comes back byte for byte, in its place; the
  // time says when the picture changed, which is now.
  png_chunk_list originals = before;
  originals.insert(originals.end(), after.begin(), after.end());
  std::vector<std::string> types;
  for (const auto& chunk : chunks_of(output_bytes("shot.png"))) {
    // The image data come in one chunk or in many.
    if (chunk.first == "IDAT" && types.back() == "IDAT")
      continue;
    types.push_back(chunk.first);
    if (chunk.first == "tIME") {
      EXPECT_GE(chunk.second[0] << 8 | chunk.second[1], 2024) << "year";
      continue;
    }
    for (auto original = originals.begin(); original != originals.end(); ++original) {
      if (original->first == chunk.first) {
        EXPECT_EQ(chunk.second, original->second) << chunk.first;
        originals.erase(original);
        break;
      }
    }
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "gAMA", "cHRM", "iCCP", "sRGB", "pHYs", "tEXt",
                                             "zTXt", "iTXt", "tIME", "vpAg", "bKGD", "IDAT", "tEXt",
                                             "IEND"}));
  // The JPEG carries the profile.
  const std::vector<unsigned char> jpeg = output_bytes("shot.jpg");
  EXPECT_EQ(read_jpeg_structure(jpeg.data(), jpeg.size()).icc_profile, profile);
}

TEST_F(cli, every_kind_of_tga_stamps_with_the_right_pixels) {
  // Flat areas with edges, as a render has them, in colour and in grey.
  host_image_ptr colour = make_host_image(width, height, Bgra8{200, 180, 160, 255});
  host_image_ptr grey = make_host_image(width, height, Bgra8{170, 170, 170, 255});
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; x += 9) {
      colour->at(x, y) = Bgra8{static_cast<std::uint8_t>(y), 40, static_cast<std::uint8_t>(x), 255};
      grey->at(x, y) = Bgra8{static_cast<std::uint8_t>(y / 2), static_cast<std::uint8_t>(y / 2),
                             static_cast<std::uint8_t>(y / 2), 255};
    }
  }
  fs::create_directories(dir / "in");
  input("in/runs.tga", tga_file(*colour, tga_storage{true, false, false}));
  input("in/grey_runs.tga", tga_file(*grey, tga_storage{true, true, true}));
  // Colour-mapped, top-down: the grey picture's 256 shades as the map.
  std::vector<unsigned char> mapped = {
      0,           1, 1,   0, 0, 0, 1, 24, 0, 0, 0, 0, width & 0xFF, width >> 8, height & 0xFF,
      height >> 8, 8, 0x20};
  for (unsigned shade = 0; shade < 256; ++shade)
    mapped.insert(mapped.end(), 3, static_cast<unsigned char>(shade));
  for (const Bgra8& pixel : grey->pixels()) mapped.push_back(pixel.red);
  input("in/mapped.tga", mapped);
  // 16-bit, five bits a channel: the colour picture as five bits keep it.
  host_image_ptr five_bits = make_host_image(width, height);
  std::vector<unsigned char> sixteen = {
      0,           0,  2,   0, 0, 0, 0, 0, 0, 0, 0, 0, width & 0xFF, width >> 8, height & 0xFF,
      height >> 8, 16, 0x20};
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const Bgra8& p = colour->at(x, y);
      const unsigned value = (p.red >> 3) << 10 | (p.green >> 3) << 5 | p.blue >> 3;
      sixteen.insert(sixteen.end(), {static_cast<unsigned char>(value & 0xFF),
                                     static_cast<unsigned char>(value >> 8)});
      const auto widen = [](unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); };
      five_bits->at(x, y) = Bgra8{widen(p.blue >> 3), widen(p.green >> 3), widen(p.red >> 3), 255};
    }
  }
  input("in/sixteen.tga", sixteen);

  const run_result r = run("--input \"" + native_path((dir / "in").string()) + "\" --format tga");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const struct {
    const char* name;
    const memory_image& expected;
    unsigned type, depth, descriptor;  // as the output stores it
  } cases[] = {
      {"runs.tga", *colour, 10, 32, 0x08},
      {"grey_runs.tga", *grey, 11, 8, 0x20},
      {"mapped.tga", *grey, 2, 32, 0x28},
      {"sixteen.tga", *five_bits, 2, 32, 0x28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> file = output_bytes(c.name);
    EXPECT_EQ(file[2], c.type);
    EXPECT_EQ(file[16], c.depth);
    EXPECT_EQ(file[17], c.descriptor);
    const changes found = compare(c.expected, *read_output(c.name));
    EXPECT_GT(found.count, 1000);
    EXPECT_TRUE(found.all_in_report);
  }
}

TEST_F(cli, jpeg_in_and_out) {
  // A smooth picture with a profile, as a review frame, and a progressive one.
  picture frame;
  frame.view = make_host_image(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      frame.view->at(x, y) =
          Bgra8{static_cast<std::uint8_t>(x / 2), static_cast<std::uint8_t>(y / 2),
                static_cast<std::uint8_t>(60 + (x + y) / 8), 255};
    }
  }
  frame.source.icc_profile.assign(900, 0x61);
  std::vector<unsigned char> file;
  write_jpeg(
      frame,
      [&](const unsigned char* data, std::size_t size) {
        file.insert(file.end(), data, data + size);
      },
      95);
  const std::string in = input("review.jpg", file);
  const run_result r = run("--input " + in + " --format jpg,png --jpeg-quality 95");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const picture before = read_jpeg(file.data(), file.size());
  const picture stamped_jpeg = read_picture_file((out() / "review.jpg").string());
  const picture stamped_png = read_picture_file((out() / "review.png").string());
  // The PNG has the stamped pixels exactly, the JPEG as close as JPEG keeps them.
  const changes exact = compare(*before.view, *stamped_png.view);
  EXPECT_GT(exact.count, 1000);
  EXPECT_TRUE(exact.all_in_report);
  EXPECT_TRUE(compare(*before.view, *stamped_jpeg.view, 10).all_in_report);
  EXPECT_EQ(stamped_jpeg.source.icc_profile, frame.source.icc_profile);
  const auto profile =
      std::find_if(stamped_png.source.png_chunks.begin(), stamped_png.source.png_chunks.end(),
                   [](const png_chunk& chunk) {
                     return std::string(chunk.type.begin(), chunk.type.end()) == "iCCP";
                   });
  ASSERT_NE(profile, stamped_png.source.png_chunks.end());
  EXPECT_EQ(icc_profile_of_iccp(profile->data, 1 << 20), frame.source.icc_profile);

  const std::string progressive =
      input("small.jpeg",
            read_file_bytes(
                VELLOQ_SOURCE_DIR "/tests/fuzz/corpus/jpeg_reader/progressive_48x32.jpg", 1 << 20));
  const run_result small = run("--input " + progressive + " --format jpg --overwrite");
  ASSERT_EQ(small.exit_code, 0) << small.output;
  EXPECT_EQ(read_output("small.jpg")->width(), 48);
}

TEST_F(cli, pictures_it_does_not_read_are_refused_before_anything_is_written) {
  const std::string png =
      input("fine.png", encode_png(*make_host_image(300, 200, Bgra8{9, 9, 9, 255})));
  const std::string tiff =
      input("scan.tif", {'I', 'I', '*', 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  fs::create_directories(dir / "exr");
  input("exr/a.exr", {0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0});
  input("exr/b.exr", {0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0});
  // An OpenEXR file named as a PNG is one all the same.
  const std::string named_png = input(
      "exr_named.png", {0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const std::string exr_folder = "\"" + native_path((dir / "exr").string()) + "\"";
  const struct {
    std::string arguments;
    const char* message;
  } cases[] = {
      {"--input " + png + " --input " + tiff,
       "scan.tif is a TIFF picture, which velloq-host does not read; it reads PNG, TGA and JPEG"},
      {"--input " + named_png, "is a OpenEXR picture"},
      {"--input " + exr_folder,
       "holds no picture velloq-host reads, only 2 OpenEXR files; it reads PNG, TGA and JPEG"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.arguments);
    EXPECT_EQ(r.exit_code, 2) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_TRUE(outputs().empty()) << c.arguments;
  }
  // Beside pictures it reads, they are named and left out.
  input("exr/c.png", encode_png(*make_host_image(300, 200, Bgra8{9, 9, 9, 255})));
  const run_result mixed = run("--input " + exr_folder);
  EXPECT_EQ(mixed.exit_code, 0) << mixed.output;
  EXPECT_NE(mixed.output.find("2 OpenEXR files, which velloq-host does not read"),
            std::string::npos)
      << mixed.output;
  EXPECT_EQ(outputs(), std::vector<std::string>{"c.png"});
}
