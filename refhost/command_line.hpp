#pragma once
// velloq-host's options.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/types.hpp"

struct usage_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct host_command {
  std::string module_path;  // empty: the module built beside velloq-host
  std::int32_t width = 640;
  std::int32_t height = 480;
  bool size_given = false;
  std::string input_path;  // empty: the built-in scene
  std::int32_t frames = 1;
  std::string out_dir = "out";
  bool write_tga = false;
  bool overwrite = false;  // replace pictures that are already there
  std::int32_t host_version = 440460;
  std::string version_text = "Vorlen reference host";
  Uuid renderer{{0, 0, 0, 0}};
  std::int32_t gi_method = 0;
  bool irradiance_caching = false;
  std::optional<std::int32_t> setup_time;
  std::optional<std::int32_t> rendering_time;
  bool abort = false;
  std::uint16_t language = 1033;
  bool quiet = false;
  bool help = false;
};

// The largest picture side the host renders or reads, in pixels.
inline constexpr std::int32_t max_picture_side = 16384;
inline constexpr std::int32_t max_frames = 100000;

// Throws usage_error naming the option at fault.
host_command parse_command_line(const std::vector<std::string>& args);

// A whole number as every option takes it: an optional '-' and decimal
// digits, nothing before or after (no blanks, no '+'), within low to high.
// Throws usage_error naming `option`.
std::int32_t parse_integer(const std::string& option, const std::string& text, std::int64_t low,
                           std::int64_t high);

std::string usage_text();

// The six renderers the host knows by name, and any UUID text (8-4-4-4-12
// hexadecimal digits) for the rest. Throws usage_error.
Uuid renderer_from_text(const std::string& text);
