#include "refhost/run/command_line.hpp"

#include <cctype>
#include <climits>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

namespace {

struct named_renderer {
  const char* name;
  Uuid uuid;
};

const named_renderer named_renderers[] = {
    {"draft", {{2, 0, 0, 0}}},
    {"ray-tracing", {{0, 0, 0, 0}}},
    {"path-tracing", {{1, 0, 0, 0}}},
    {"toon", {{0x18473B78, 0x6E0B4BEB, 0xB5143CC9, 0xBC31D80F}}},
    {"wire-frame", {{0x31300000, 0x53B811D9, 0xBCFF000A, 0x95BACEB2}}},
    {"tesserak", {{0x20301201, 0x53B811D9, 0xBCFF000A, 0x95BACEB2}}},
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A value that names a file: an empty one would silently mean the default.
const std::string& path_value(const std::string& option, const std::string& text) {
  if (text.empty())
    throw usage_error(option + " needs a path, not an empty text");
  return text;
}

// "png", "tga" or both, as "png,tga" (in either order).
void set_formats(host_command& command, const std::string& text) {
  command.write_png = command.write_tga = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string name = lower(text.substr(start, comma - start));
    if (name == "png") {
      command.write_png = true;
    } else if (name == "tga") {
      command.write_tga = true;
    } else {
      throw usage_error("--format takes png, tga or png,tga, not '" + text + "'");
    }
    if (comma == std::string::npos)
      return;
    start = comma + 1;
  }
}

// The first input that is a numbered pattern; null when none is. Throws
// usage_error for a malformed one.
const std::string* first_frame_pattern(const std::vector<std::string>& inputs) {
  const std::string* first = nullptr;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (std::filesystem::is_directory(input, error))
      continue;  // a folder that is there is one, '%' or not
    if (frame_pattern::find(input) && first == nullptr)
      first = &input;
  }
  return first;
}

// The one name of an option that has two.
std::string canonical_name(const std::string& option) {
  if (option == "-h")
    return "--help";
  if (option == "-y")
    return "--overwrite";
  if (option == "-j")
    return "--jobs";
  if (option == "--tga")
    return "--format";
  return option;
}

}  // namespace

std::int32_t parse_integer(const std::string& option, const std::string& text, std::int64_t low,
                           std::int64_t high) {
  if (text.empty())
    throw usage_error(option + " needs a number");
  std::size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size())
    throw usage_error(option + ": '" + text + "' is not a whole number");
  // Accumulated as a negative value, which reaches INT64_MIN; past the
  // bounds the digits only need checking, not summing.
  std::int64_t value = 0;
  bool beyond = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c < '0' || c > '9')
      throw usage_error(option + ": '" + text + "' is not a whole number");
    if (!beyond) {
      value = value * 10 - (c - '0');
      beyond = value < -(std::int64_t{1} << 40);
    }
  }
  if (text[0] != '-')
    value = -value;
  if (beyond || value < low || value > high) {
    throw usage_error(option + ": " + text + " is outside " + std::to_string(low) + " to " +
                      std::to_string(high));
  }
  return static_cast<std::int32_t>(value);
}

Uuid renderer_from_text(const std::string& text) {
  for (const named_renderer& renderer : named_renderers) {
    if (lower(text) == renderer.name)
      return renderer.uuid;
  }
  // 8-4-4-4-12 hex digits; the words follow the groups as the plug-in reads them.
  if (text.size() != 36) {
    throw usage_error("--renderer: '" + text +
                      "' is neither a known renderer nor a UUID (8-4-4-4-12 hex digits)");
  }
  Uuid uuid{{0, 0, 0, 0}};
  int digits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-')
        throw usage_error("--renderer: '" + text + "' has no hyphen at " + std::to_string(i));
      continue;
    }
    const int value = hex_digit(text[i]);
    if (value < 0)
      throw usage_error("--renderer: '" + text + "' holds a non-hex digit");
    std::uint32_t& word = uuid.words[digits / 8];
    word = word * 16 + static_cast<std::uint32_t>(value);
    ++digits;
  }
  return uuid;
}

host_command parse_command_line(const std::vector<std::string>& args) {
  host_command command;
  std::set<std::string> given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    // --jobs=2 and -j2 as well as --jobs 2 and -j 2, as other tools take them.
    std::string option = args[i];
    std::optional<std::string> attached;
    const std::size_t equals = option.find('=');
    if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
      attached = option.substr(equals + 1);
      option.erase(equals);
    } else if (option.size() > 2 && option.rfind("-j", 0) == 0) {
      attached = option.substr(2);
      option = "-j";
    }
    auto value = [&]() -> std::string {
      if (attached)
        return *std::exchange(attached, std::nullopt);
      if (i + 1 >= args.size())
        throw usage_error(option + " needs a value");
      return args[++i];
    };
    // Every option but --input once: a second value would silently win.
    const std::string name = canonical_name(option);
    if (name != "--input" && !given.insert(name).second) {
      if (name == "--format")
        throw usage_error(option + ": the formats are given once (--format png,tga for both)");
      throw usage_error(option + " is given twice; every option but --input is given once");
    }
    if (option == "--help" || option == "-h") {
      command.help = true;
    } else if (option == "--module") {
      command.module_path = path_value(option, value());
    } else if (option == "--size") {
      const std::string size = value();
      const std::size_t x = size.find('x');
      if (x == std::string::npos)
        throw usage_error("--size takes WIDTHxHEIGHT, such as 640x480");
      command.width = parse_integer("--size width", size.substr(0, x), 1, max_picture_side);
      command.height = parse_integer("--size height", size.substr(x + 1), 1, max_picture_side);
      command.size_given = true;
    } else if (option == "--input") {
      command.inputs.push_back(path_value(option, value()));
    } else if (option == "--range") {
      command.range = parse_frame_range(value(), max_frames);
    } else if (option == "--frames") {
      command.frames = parse_integer(option, value(), 1, max_frames);
      command.frames_given = true;
    } else if (option == "--out") {
      command.out = path_value(option, value());
    } else if (option == "--format" || option == "--tga") {
      command.format_given = true;
      set_formats(command, option == "--tga" ? "png,tga" : value());
    } else if (option == "--jobs" || option == "-j") {
      command.jobs = parse_integer(option, value(), 1, max_jobs);
    } else if (option == "--overwrite" || option == "-y") {
      command.overwrite = true;
    } else if (option == "--host-version") {
      command.host_version = parse_integer(option, value(), INT32_MIN, INT32_MAX);
    } else if (option == "--version-text") {
      command.version_text = value();
    } else if (option == "--renderer") {
      command.renderer = renderer_from_text(value());
    } else if (option == "--gi") {
      command.gi_method = parse_integer(option, value(), INT32_MIN, INT32_MAX);
    } else if (option == "--irradiance-caching") {
      const std::string state = value();
      if (state != "on" && state != "off")
        throw usage_error("--irradiance-caching takes on or off");
      command.irradiance_caching = state == "on";
    } else if (option == "--setup-time") {
      command.setup_time = parse_integer(option, value(), INT32_MIN, INT32_MAX);
    } else if (option == "--rendering-time") {
      command.rendering_time = parse_integer(option, value(), INT32_MIN, INT32_MAX);
    } else if (option == "--abort") {
      command.abort = true;
    } else if (option == "--language") {
      const std::int32_t language = parse_integer(option, value(), 0, 65535);
      if (language != 1033 && language != 1041)
        throw usage_error("--language takes 1033 or 1041");
      command.language = static_cast<std::uint16_t>(language);
    } else if (option == "--quiet") {
      command.quiet = true;
    } else if (option == "--skip-existing") {
      command.skip_existing = true;
    } else if (option == "--version") {
      command.version = true;
    } else {
      throw usage_error("unknown option '" + option + "' (see --help)");
    }
    if (attached)
      throw usage_error(option + " takes no value");
  }
  // What would be ignored without a word is refused instead.
  if (command.size_given && !command.inputs.empty())
    throw usage_error("--size and --input do not go together: the picture keeps its own size");
  if (command.frames_given && !command.inputs.empty()) {
    throw usage_error(
        "--frames and --input do not go together: --frames counts the built-in scene's "
        "frames; a numbered sequence takes --range");
  }
  const std::string* numbered = first_frame_pattern(command.inputs);
  if (numbered != nullptr && !command.range) {
    throw usage_error("--input " + *numbered +
                      " is a numbered sequence: --range names its frames, such as --range 1-24");
  }
  if (command.range && numbered == nullptr)
    throw usage_error("--range needs a numbered --input such as render.%04d.png");
  return command;
}

std::string usage_text() {
  return R"(velloq-host: the Velloq reference host. Loads a post-render plug-in, renders a
picture (or takes pictures already rendered), lets the plug-in stamp each one
and writes the results.

usage: velloq-host [options]

Pictures in
  --input PATH               a PNG or TGA to stamp, as if the host had just rendered
                             it; a folder (its .png and .tga files, by name); or a
                             numbered sequence such as render.%04d.png with --range.
                             May be given many times. Without it: the built-in scene
  --range FIRST-LAST         the frames of a numbered --input, such as 1-24 (or one
                             frame, N). %d is the frame number, %04d the number with
                             at least four digits; %% is a % in any path
  --size WxH                 built-in scene size, 1 to 16384 per side (default: 640x480)
  --frames N                 render the built-in scene as an animation of N frames,
                             1 to 100000 (default: 1)
  --abort                    the render job reports itself aborted

Pictures out
  --out DIR|FILE             folder for the stamped pictures (default: out), or a file
                             name ending in .png or .tga: one picture's, or with a
                             frame number, such as stamped/shot.%04d.png, a sequence's
  --format png|tga|png,tga   the formats to write (default: png; from --out's
                             extension when it names a file)
  --tga                      the same as --format png,tga
  --overwrite, -y            replace pictures already there (without it velloq-host
                             refuses before writing anything)
  --skip-existing            stamp only the frames whose pictures are not all there:
                             a run cut short goes on where it stopped
  --jobs N, -j N             stamp N frames at once, 1 to 64 (default: one per
                             processor core, fewer when memory holds fewer frames);
                             each has its own plug-in component
  --module PATH              plug-in module to load (default: the one beside velloq-host)
  --quiet                    print only errors and the summary line

What the host tells the plug-in (the same for every frame)
  --host-version N           host version number (default: 440460, release 11.0.0)
  --version-text TEXT        the host's version text, used from 440487 on
                             (default: "Vorlen reference host")
  --renderer NAME|UUID       draft, ray-tracing, path-tracing, toon, wire-frame, tesserak,
                             or any UUID 8-4-4-4-12 (default: ray-tracing)
  --gi CODE                  global illumination method code (default: 0, none)
  --irradiance-caching on|off  (default: off)
  --setup-time N             setup time, in seconds below host version 440468 and in
                             milliseconds from it on (default: what the host measured
                             for the frame: opening and reading its file's header)
  --rendering-time N         rendering time in milliseconds (default: what the host
                             measured for the frame: reading and decoding its picture,
                             or rendering the built-in scene)
  --language 1033|1041       the host's language: English or Japanese (default: 1033)

  --help, -h                 this text
  --version                  velloq-host's version

Options take their value as the next word or after '=' (--jobs=2, -j2); each
is given once, but --input.

The plug-in stamps its report into the bottom-left corner and then makes
every pixel fully opaque: a picture with transparent areas comes back
without them.

Pictures keep their input's name with the format's extension (render.0001.png
becomes render.0001.tga with --format tga); the built-in scene's are named
render_0001.png, render_0002.png, ... Each is written under a temporary name
and a frame's files are renamed together when complete. Runs share a folder
when they write different files; a run that would write a file another run
is writing refuses before it starts. An interrupted run removes its partial
files. A frame that cannot be read, decoded or written is reported with its
name and the others go on; none of its files is written, and what its names
held before stays.

On a terminal a run of many frames shows its progress (frames done, frames per
second, time left); every run ends with one summary line.

Exit status: 0 done, 1 an input, module or output failed (for a run of many
frames: at least one frame failed; a picture already there without
--overwrite too), 2 a bad option, 3 the plug-in does not offer its effector to
this host, 128 + the signal's number when interrupted.
)";
}
