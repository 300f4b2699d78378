// velloq-host end to end: the program run as a user runs it, its pictures
// read back and compared with the host's own unstamped render.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_claims.hpp"
#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"
#include "tests/support/module_path.hpp"
#include "tests/refhost/run/cli_fixture.hpp"
#include "tests/support/png_builder.hpp"
#include "tests/support/test_host.hpp"

#if defined(_WIN32)
#include <process.h>
#define current_process_id _getpid
#else
#include <unistd.h>
#define current_process_id getpid
#endif

namespace {

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
  const run_result r = run("--input " + input("white.png", encode_png(*white)));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // Named after its input.
  ASSERT_EQ(outputs(), std::vector<std::string>{"white.png"});
  const host_image_ptr stamped = read_output("white.png");
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
  write_file_atomically((dir / "short.png").string(), png, replace_policy::replace_existing);
  std::vector<unsigned char> tga = encode_tga(*make_host_image(8, 8));
  tga.resize(40);
  write_file_atomically((dir / "short.tga").string(), tga, replace_policy::replace_existing);
  tga = encode_tga(*make_host_image(8, 8));
  tga[1] = 1;
  write_file_atomically((dir / "mapped.tga").string(), tga, replace_policy::replace_existing);
  tga[1] = 0;
  tga[2] = 10;
  write_file_atomically((dir / "rle.tga").string(), tga, replace_policy::replace_existing);
  // Headers the host does not take, and a picture a TGA cannot hold.
  png_layout big{100000, 100000, 8, 6, false};
  const std::string big_png = input("big.png", build_png(big, {}, zlib_stored({0})));
  png_layout deep{4096, 4096, 16, 6, false};
  const std::string deep_png = input("deep.png", build_png(deep, {}, zlib_stored({0})));
  const std::string wide_png = input("wide.png", encode_png(*make_host_image(70000, 2)));

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
      {"--input " + big_png, 1, "big.png: PNG: a picture of 100000x100000 pixels is larger"},
      {"--input " + deep_png, 1, "deep.png: PNG: the image data ends in row 0 of the 4096x4096"},
      {"--input " + wide_png + " --tga", 1,
       "wide.png: TGA cannot store a picture of 70000x2 pixels (1 to 65535 per side)"},
      // Careless values: an empty path is not the default, a size is not
      // silently dropped, and every number follows one rule.
      {"--input \"\"", 2, "--input needs a path"},
      {"--module \"\"", 2, "--module needs a path"},
      {"--out \"\"", 2, "--out needs a path"},
      {"--size 64x48 --input " + wide_png, 2, "--size and --input do not go together"},
      {"--frames \" 12\"", 2, "' 12' is not a whole number"},
      {"--frames \"12 \"", 2, "'12 ' is not a whole number"},
      {"--frames +5", 2, "'+5' is not a whole number"},
      {"--frames 1e3", 2, "'1e3' is not a whole number"},
      {"--gi -x", 2, "'-x' is not a whole number"},
      {"--gi glow", 2, "(none, path-tracing, photon-mapping, radiosity"},
      {"--size \"64x 48\"", 2, "' 48' is not a whole number"},
      {"--gi 99999999999999999999999", 2, "is outside"},
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
  for (const char* option : {"--module",
                             "--out",
                             "--tga",
                             "--overwrite",
                             "--size",
                             "--input",
                             "--frames",
                             "--abort",
                             "--host-version",
                             "--version-text",
                             "--renderer",
                             "--gi",
                             "--irradiance-caching",
                             "--setup-time",
                             "--rendering-time",
                             "--language",
                             "--range",
                             "--format",
                             "--jobs",
                             "--skip-existing",
                             "--version"}) {
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  }
  EXPECT_NE(r.output.find("fully opaque"), std::string::npos) << r.output;
}

TEST_F(cli, pictures_already_there_are_kept_unless_overwrite_is_given) {
  ASSERT_EQ(run("--size 240x180").exit_code, 0);
  const std::vector<unsigned char> first = output_bytes("render_0001.png");

  // The second run's report differs; without --overwrite nothing changes.
  for (const char* arguments :
       {"--size 240x180 --rendering-time 9000", "--size 240x180 --rendering-time 9000 --tga"}) {
    const run_result r = run(arguments);
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("render_0001.png exists already; nothing was written"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(output_bytes("render_0001.png"), first);
    EXPECT_EQ(outputs(), std::vector<std::string>{"render_0001.png"});
  }

  const run_result replaced = run("--size 240x180 --rendering-time 9000 --tga --overwrite");
  ASSERT_EQ(replaced.exit_code, 0) << replaced.output;
  EXPECT_NE(output_bytes("render_0001.png"), first);
  EXPECT_EQ(outputs(), (std::vector<std::string>{"render_0001.png", "render_0001.tga"}));

  // A picture made read-only is protected even from --overwrite.
  const fs::path protected_picture = out() / "render_0001.png";
  const std::vector<unsigned char> second = output_bytes("render_0001.png");
  fs::permissions(protected_picture,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const run_result refused = run("--size 240x180 --rendering-time 3000 --tga -y");
  fs::permissions(protected_picture, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(refused.exit_code, 1) << refused.output;
  EXPECT_NE(refused.output.find("render_0001.png is read-only, so it is kept"), std::string::npos)
      << refused.output;
  EXPECT_EQ(output_bytes("render_0001.png"), second);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(cli, a_shorter_sequence_says_what_else_the_folder_holds) {
  ASSERT_EQ(run("--size 32x24 --frames 3").exit_code, 0);
  const run_result r = run("--size 32x24 --frames 1 --overwrite");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("also holds 2 pictures this run did not write (render_0002.png to "
                          "render_0003.png)"),
            std::string::npos)
      << r.output;
}

TEST_F(cli, an_output_another_run_writes_is_left_alone) {
  fs::create_directories(out());
  const std::string partial = ".render_0001.png.0123456789ab.velloq-partial";
  write_file_atomically((out() / partial).string(), {1, 2, 3}, replace_policy::keep_existing);
  {
    // This test holds render_0001.png as a live run would: its partial
    // file is that run's and stays. The folder's other names are free.
    output_claims live_run(out().string());
    live_run.claim({(out() / "render_0001.png").string()});
    // A status a farm's scheduler retries later (sysexits' EX_TEMPFAIL).
    const run_result r = run("--size 32x24");
    EXPECT_EQ(r.exit_code, 75) << r.output;
    EXPECT_NE(
        r.output.find("render_0001.png is being written by another velloq-host run (process " +
                      std::to_string(current_process_id()) + " on this machine)"),
        std::string::npos)
        << r.output;
    EXPECT_TRUE(outputs().empty());
    const std::vector<std::string> left = leftovers();
    EXPECT_NE(std::find(left.begin(), left.end(), partial), left.end());
    const run_result beside =
        run("--size 32x24 --out \"" + native_path((out() / "other.png").string()) + "\"");
    EXPECT_EQ(beside.exit_code, 0) << beside.output;
  }
  // That run is gone: its partial file goes with the next run, and no run
  // leaves a file of its own in the folder.
  const run_result r = run("--size 32x24");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("removed " + partial + ", left by an interrupted run"), std::string::npos)
      << r.output;
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
  EXPECT_EQ(outputs(), (std::vector<std::string>{"other.png", "render_0001.png"}));
}

TEST_F(cli, names_the_file_system_takes_for_one_are_refused_as_a_usage_error) {
  // shot.png and SHOT.png: two files where names tell capitals apart, one
  // on Windows (and FAT): never taken for another run's, never one lost.
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  const std::vector<unsigned char> picture = encode_png(*make_host_image(64, 48, Bgra8{}));
  const std::string first = input("a/shot.png", picture);
  const std::string second = input("b/SHOT.png", picture);
  const run_result r = run("--input " + first + " --input " + second);
  if (r.exit_code == 0) {
    EXPECT_EQ(outputs(), (std::vector<std::string>{"SHOT.png", "shot.png"}));
  } else {
    EXPECT_EQ(r.exit_code, 2) << r.output;
    EXPECT_NE(r.output.find("are one file in"), std::string::npos) << r.output;
    EXPECT_TRUE(outputs().empty());
  }
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(cli, cut_modules_are_refused_with_a_reason) {
  const std::vector<unsigned char> module = read_file_bytes(module_path(), 1 << 28);
  for (std::size_t length : {std::size_t{1000}, std::size_t{4096}, std::size_t{20000}}) {
    const std::string name = "cut_" + std::to_string(length);
    const std::string path = input(name, {module.begin(), module.begin() + length});
    const run_result r = run("--module " + path);
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find(name + ": cut short"), std::string::npos) << r.output;
    EXPECT_TRUE(outputs().empty());
  }
}

TEST_F(cli, a_bare_module_name_is_the_file_in_the_current_folder) {
  const std::string name = fs::path(module_path()).filename().string();
  input(name, read_file_bytes(module_path(), 1 << 28));
#if defined(_WIN32)
  const std::string change_folder = "cd /d \"" + native_path(dir.string()) + "\" && ";
#else
  const std::string change_folder = "cd \"" + dir.string() + "\" && ";
#endif
  const run_result r = run("--size 32x24 --module " + name, change_folder);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(outputs(), std::vector<std::string>{"render_0001.png"});
}

}  // namespace
