// velloq-host end to end: the program run as a user runs it, its pictures
// read back and compared with the host's own unstamped render.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "refhost/file_io.hpp"
#include "refhost/png_codec.hpp"
#include "refhost/scene.hpp"
#include "refhost/tga_codec.hpp"
#include "tests/support/test_host.hpp"

namespace fs = std::filesystem;

namespace {

struct run_result {
  int exit_code;
  std::string output;
};

std::string native_path(const std::string& path) {
#if defined(_WIN32)
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/')
      c = '\\';
  }
  return converted;
#else
  return path;
#endif
}

class cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(VELLOQ_BINARY_DIR) / "tests" / "cli_runs" /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
  }

  run_result run(const std::string& arguments) {
    const std::string log = (dir / "log.txt").string();
    const std::string command = "\"" + native_path(VELLOQ_HOST_PATH) + "\" --out \"" +
                                native_path((dir / "out").string()) + "\" " + arguments + " > \"" +
                                native_path(log) + "\" 2>&1";
#if defined(_WIN32)
    // cmd.exe drops the outer quotes of a command line that starts with one.
    const int status = std::system(("\"" + command + "\"").c_str());
#else
    const int status = std::system(command.c_str());
#endif
    std::ifstream file(log);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
#if defined(_WIN32)
    return {status, text};
#else
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
#endif
  }

  std::vector<std::string> outputs() const {
    std::vector<std::string> names;
    if (!fs::exists(dir / "out"))
      return names;
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  host_image_ptr read_output(const std::string& name) {
    return decode_image_file((dir / "out" / name).string());
  }

  fs::path dir;
};

int coverage(char ch, int k, int i) {
  const int n = static_cast<unsigned char>(ch) - 0x20;
  return shipped_atlas_pixels()[static_cast<std::size_t>((n / 16) * 12 + i) * 128 + (n % 16) * 8 +
                                k]
      .alpha;
}

// On a dark background the white glyph is pure white exactly where the atlas
// covers fully: the text of a line can be read back cell by cell.
void expect_line(const memory_image& image, int top, const std::string& text) {
  for (std::size_t c = 0; c < text.size(); ++c) {
    const int left = 2 + static_cast<int>(c) * 8;
    for (int i = 0; i < 11; ++i) {
      for (int k = 0; k < 7; ++k) {
        const Bgra8& p = image.at(left + k, top + i);
        const bool white = p.red == 255 && p.green == 255 && p.blue == 255;
        ASSERT_EQ(white, coverage(text[c], k, i) == 255)
            << "'" << text << "' character " << c << " pixel " << k << "," << i;
      }
    }
  }
}

TEST_F(cli, stamps_the_built_in_scene_with_what_the_host_was_told) {
  const run_result r =
      run("--size 320x240 --host-version 440487 --version-text \"Vorlen Test\" --renderer "
          "path-tracing --gi 5 --irradiance-caching on --setup-time 1500 --rendering-time 2500");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Quillmark"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("05A838F5-CA63-446B-9F83-727D554E9C40"), std::string::npos);
  ASSERT_EQ(outputs(), std::vector<std::string>{"render_0001.png"});

  const host_image_ptr stamped = read_output("render_0001.png");
  const host_image_ptr rendered = render_scene(320, 240, 0, 1);
  ASSERT_EQ(stamped->width(), 320);
  ASSERT_EQ(stamped->height(), 240);
  // Fourteen lines: the block starts at 240 - 14 x 12 - 2 = 70.
  const int top = 70, bottom = 238;
  int changed = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      const Bgra8& a = stamped->at(x, y);
      const Bgra8& b = rendered->at(x, y);
      ASSERT_EQ(a.alpha, 255) << x << "," << y;
      const bool same = a.red == b.red && a.green == b.green && a.blue == b.blue;
      if (!same) {
        ++changed;
        ASSERT_TRUE(x >= 1 && y >= top - 1 && y <= bottom) << "changed outside: " << x << "," << y;
      }
    }
  }
  EXPECT_GT(changed, 1000);
  expect_line(*stamped, top, "Vorlen Test for Windows (IA-32)");
  expect_line(*stamped, top + 7 * 12, "Method: Path Tracing");
  expect_line(*stamped, top + 8 * 12, "G.I.  : Path Tracing + Photon Mapping");
  expect_line(*stamped, top + 9 * 12, " Irradiance Caching: ON");
  expect_line(*stamped, top + 11 * 12, "Setup Time    : 1.50 sec");
  expect_line(*stamped, top + 12 * 12, "Rendering Time: 2.50 sec");
}

TEST_F(cli, an_aborted_render_is_written_exactly_as_rendered) {
  const run_result r = run("--size 200x150 --abort --tga");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(outputs(), (std::vector<std::string>{"render_0001.png", "render_0001.tga"}));
  const host_image_ptr rendered = render_scene(200, 150, 0, 1);
  for (const char* name : {"render_0001.png", "render_0001.tga"}) {
    const host_image_ptr written = read_output(name);
    ASSERT_EQ(written->pixels().size(), rendered->pixels().size());
    for (std::size_t i = 0; i < rendered->pixels().size(); ++i) {
      const Bgra8& a = written->pixels()[i];
      const Bgra8& b = rendered->pixels()[i];
      ASSERT_TRUE(a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha)
          << name << " pixel " << i;
    }
  }
}

TEST_F(cli, an_animation_stamps_every_frame) {
  const run_result r = run("--size 160x120 --frames 3");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(outputs(),
            (std::vector<std::string>{"render_0001.png", "render_0002.png", "render_0003.png"}));
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_NE(r.output.find("frame " + std::to_string(frame + 1) + " of 3: stamped"),
              std::string::npos)
        << r.output;
    const host_image_ptr written = read_output("render_000" + std::to_string(frame + 1) + ".png");
    const host_image_ptr rendered = render_scene(160, 120, frame, 3);
    // Stamped: the bottom-left corner differs from the frame as rendered.
    int changed = 0;
    for (int y = 100; y < 118; ++y) {
      for (int x = 2; x < 40; ++x) changed += written->at(x, y).red != rendered->at(x, y).red;
    }
    EXPECT_GT(changed, 20) << "frame " << frame + 1;
  }
}

TEST_F(cli, takes_a_picture_from_a_file_and_picks_black_text_on_white) {
  host_image_ptr white = make_host_image(100, 80, Bgra8{255, 255, 255, 0});
  write_file_atomically((dir / "white.png").string(), encode_png(*white));
  const run_result r = run("--input \"" + native_path((dir / "white.png").string()) + "\"");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const host_image_ptr stamped = read_output("render_0001.png");
  ASSERT_EQ(stamped->width(), 100);
  ASSERT_EQ(stamped->height(), 80);
  int black = 0;
  for (const Bgra8& p : stamped->pixels()) {
    black += p.red == 0 && p.green == 0 && p.blue == 0;
    ASSERT_EQ(p.alpha, 255);
  }
  EXPECT_GT(black, 100);
}

TEST_F(cli, refuses_cleanly) {
  struct refusal {
    std::string arguments;
    int exit_code;
    std::string message;
  };
  const std::string data = native_path(dir.string());
  // A truncated PNG, a truncated TGA, a colour-mapped TGA and an RLE TGA.
  std::vector<unsigned char> png = encode_png(*make_host_image(8, 8));
  png.resize(png.size() / 2);
  write_file_atomically((dir / "short.png").string(), png);
  std::vector<unsigned char> tga = encode_tga(*make_host_image(8, 8));
  tga.resize(40);
  write_file_atomically((dir / "short.tga").string(), tga);
  tga = encode_tga(*make_host_image(8, 8));
  tga[1] = 1;
  write_file_atomically((dir / "mapped.tga").string(), tga);
  tga[1] = 0;
  tga[2] = 10;
  write_file_atomically((dir / "rle.tga").string(), tga);

  const refusal refusals[] = {
      {"--host-version 429999", 3, "does not offer"},
      {"--input \"" + data + "/missing.png\"", 1, "missing.png"},
      {"--input \"" + data + "/short.png\"", 1, "short.png"},
      {"--input \"" + data + "/short.tga\"", 1, "short.tga"},
      {"--input \"" + data + "/mapped.tga\"", 1, "mapped.tga"},
      {"--input \"" + data + "/rle.tga\"", 1, "rle.tga"},
      {"--size 0x10", 2, "--size"},
      {"--size -5x5", 2, "--size"},
      {"--size 20000x20", 2, "--size"},
      {"--frames 0", 2, "--frames"},
      {"--renderer nonsense", 2, "--renderer"},
      {"--bogus", 2, "unknown option"},
  };
  for (const refusal& case_ : refusals) {
    const run_result r = run(case_.arguments);
    EXPECT_EQ(r.exit_code, case_.exit_code) << case_.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(case_.message), std::string::npos) << case_.arguments << "\n"
                                                               << r.output;
    EXPECT_TRUE(outputs().empty()) << case_.arguments;
  }
}

TEST_F(cli, help_lists_every_option) {
  const run_result r = run("--help");
  EXPECT_EQ(r.exit_code, 0);
  for (const char* option :
       {"--module", "--out", "--tga", "--size", "--input", "--frames", "--abort", "--host-version",
        "--version-text", "--renderer", "--gi", "--irradiance-caching", "--setup-time",
        "--rendering-time", "--language"}) {
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  }
}

}  // namespace
