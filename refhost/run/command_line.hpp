#pragma once
// velloq-host's options.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/types.hpp"
#include "refhost/run/frame_sequence.hpp"

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct host_command {
  std::string module_path;  // empty: the module built beside velloq-host
  std::int32_t width = 640;
  std::int32_t height = 480;
  bool size_given = false;
  // Files, folders and numbered patterns; none: the built-in scene.
  std::vector<std::string> inputs;
  std::optional<frame_list> range;  // the frames of the numbered patterns
  std::int32_t frames = 1;          // of the built-in scene
  bool frames_given = false;
  std::string out = "out";  // a folder, or a picture's file name (.png, .tga, .jpg)
  bool write_png = true;
  bool write_tga = false;
  bool write_jpeg = false;
  bool format_given = false;  // --format or --tga
  std::int32_t jpeg_quality = 90;
  bool jpeg_quality_given = false;
  std::int32_t jobs = 0;       // 0: one per processor core
  bool overwrite = false;      // replace pictures that are already there
  bool skip_existing = false;  // leave out the frames whose pictures are all there
  std::int32_t host_version = 440460;
  std::string version_text = "Vorlen reference host";
  Uuid renderer{{0, 0, 0, 0}};
  std::int32_t gi_method = 0;
  bool irradiance_caching = false;
  std::optional<std::int32_t> setup_time;
  std::optional<std::int32_t> rendering_time;
  bool abort = false;
  std::uint16_t language = 1033;
  // Per-frame render facts (times, and optionally host version, renderer,
  // GI) from a CSV or JSON file; empty: the same facts for every frame.
  std::string facts_path;
  bool quiet = false;    // no discovery, no line per frame: errors and the summary
  bool json = false;     // a JSON object per frame and a summary on stdout
  bool dry_run = false;  // the plan and the exit status, nothing written
  bool help = false;
  bool version = false;
};

// The largest picture side the host renders or reads, in pixels.
inline constexpr std::int32_t max_picture_side = 16384;
inline constexpr std::int32_t max_frames = 100000;
// Each worker writes up to two files at once, and the interruption handler
// tracks 128.
inline constexpr std::int32_t max_jobs = 64;

// Throws usage_error naming the option at fault.
host_command parse_command_line(const std::vector<std::string>& args);

// A whole number as every option takes it: an optional '-' and decimal
// digits, nothing before or after (no blanks, no '+'), within low to high.
// Throws usage_error naming `option`.
std::int32_t parse_integer(const std::string& option, const std::string& text, std::int64_t low,
                           std::int64_t high);

std::string usage_text();

// The six renderers the host knows by name, and any UUID text (8-4-4-4-12
// hexadecimal digits) for the rest. Throws usage_error naming `what` and
// listing the names.
Uuid renderer_from_text(const std::string& text, const std::string& what = "--renderer");

// The global illumination methods the host knows by name (none,
// path-tracing, ...), or any method code as a whole number. Throws
// usage_error naming `what` and listing the names.
std::int32_t gi_method_from_text(const std::string& text, const std::string& what = "--gi");
