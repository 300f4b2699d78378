#include "refhost/run/command_line.hpp"

#include <cctype>
#include <climits>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "refhost/run/exit_status.hpp"

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

struct named_gi_method {
  const char* name;
  std::int32_t code;
};

// The host's methods by their codes; "+" joins the two of code 5 as the
// plug-in's text does.
const named_gi_method named_gi_methods[] = {
    {"none", 0},
    {"path-tracing", 1},
    {"photon-mapping", 2},
    {"radiosity", 3},
    {"path-tracing+photon-mapping", 5},
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

// "png", "tga", "jpg" or several, as "png,tga" (in any order).
void set_formats(host_command& command, const std::string& text) {
  command.write_png = command.write_tga = command.write_jpeg = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string name = lower(text.substr(start, comma - start));
    if (name == "png") {
      command.write_png = true;
    } else if (name == "tga") {
      command.write_tga = true;
    } else if (name == "jpg" || name == "jpeg") {
      command.write_jpeg = true;
    } else {
      throw usage_error("--format takes png, tga, jpg or several such as png,jpg, not '" + text +
                        "'");
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

Uuid renderer_from_text(const std::string& text, const std::string& what) {
  for (const named_renderer& renderer : named_renderers) {
    if (lower(text) == renderer.name)
      return renderer.uuid;
  }
  std::string names;
  for (const named_renderer& renderer : named_renderers)
    names += std::string(names.empty() ? "" : ", ") + renderer.name;
  const std::string refusal = what + ": '" + text + "' is neither a renderer the host knows (" +
                              names + ") nor a UUID of 8-4-4-4-12 hex digits";
  // 8-4-4-4-12 hex digits; the words follow the groups as the plug-in reads them.
  if (text.size() != 36)
    throw usage_error(refusal);
  Uuid uuid{{0, 0, 0, 0}};
  int digits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const int value = hex_digit(text[i]);
    if (hyphen != (text[i] == '-') || (!hyphen && value < 0))
      throw usage_error(refusal);
    if (hyphen)
      continue;
    std::uint32_t& word = uuid.words[digits / 8];
    word = word * 16 + static_cast<std::uint32_t>(value);
    ++digits;
  }
  return uuid;
}

std::int32_t gi_method_from_text(const std::string& text, const std::string& what) {
  for (const named_gi_method& method : named_gi_methods) {
    if (lower(text) == method.name)
      return method.code;
  }
  const bool number = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) ||
                                        (text[0] == '-' && text.size() > 1));
  if (number)
    return parse_integer(what, text, INT32_MIN, INT32_MAX);
  std::string names;
  for (const named_gi_method& method : named_gi_methods)
    names += std::string(names.empty() ? "" : ", ") + method.name;
  throw usage_error(what + ": '" + text + "' is no global illumination method the host knows (" +
                    names + ") nor a method code");
}

namespace {

using apply_option = void (*)(host_command& command, const std::string& option,
                              const std::string& value);

// One option of velloq-host: its names, its value, where it goes and its
// line in --help. Everything the parser and the help know of an option is
// here, in the order --help lists them.
struct option_row {
  const char* group;       // the --help heading it is listed under
  const char* name;        // "--jobs"
  const char* short_name;  // "-j", or null
  const char* argument;    // what the value looks like in --help; null: takes none
  // Options that set the same thing (--tga, --format) count as one when
  // refusing a second: the name they count as; null: their own.
  const char* counts_as;
  const char* help;  // lines of --help; a line break continues in the column
  apply_option apply;
};

const char* const pictures_in = "Pictures in";
const char* const pictures_out = "Pictures out";
const char* const the_run = "The run";
const char* const render_facts =
    "What the host tells the plug-in (the same for every frame, unless --facts)";
const char* const about = "";

const option_row option_table[] = {
    {pictures_in, "--input", nullptr, "PATH", nullptr,
     "a PNG, TGA or JPEG to stamp, as if the host had just\n"
     "rendered it; a folder (its .png, .tga, .jpg and .jpeg\n"
     "files, by name); or a numbered sequence such as\n"
     "render.%04d.png with --range. May be given many times.\n"
     "Without it: the built-in scene",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.inputs.push_back(path_value(o, v));
     }},
    {pictures_in, "--range", nullptr, "FRAMES", nullptr,
     "the frames of a numbered --input: FIRST-LAST (1-24), N,\n"
     "every STEP-th FIRST-LASTxSTEP (1-100x5), and lists of\n"
     "these, such as 1-100x5,120,200-210. In a file name %d is\n"
     "the frame number, %04d the number with at least four\n"
     "digits, # four digits, ## (or more #) and @ (or more @)\n"
     "one digit each; %%, %# and %@ are a %, # and @ of a name",
     [](host_command& c, const std::string&, const std::string& v) {
       c.range = parse_frame_list(v, max_frames);
     }},
    {pictures_in, "--size", nullptr, "WxH", nullptr,
     "built-in scene size, 1 to 16384 per side (default: 640x480)",
     [](host_command& c, const std::string&, const std::string& v) {
       const std::size_t x = v.find('x');
       if (x == std::string::npos)
         throw usage_error("--size takes WIDTHxHEIGHT, such as 640x480");
       c.width = parse_integer("--size width", v.substr(0, x), 1, max_picture_side);
       c.height = parse_integer("--size height", v.substr(x + 1), 1, max_picture_side);
       c.size_given = true;
     }},
    {pictures_in, "--frames", nullptr, "N", nullptr,
     "render the built-in scene as an animation of N frames,\n"
     "1 to 100000 (default: 1)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.frames = parse_integer(o, v, 1, max_frames);
       c.frames_given = true;
     }},
    {pictures_in, "--abort", nullptr, nullptr, nullptr, "the render job reports itself aborted",
     [](host_command& c, const std::string&, const std::string&) { c.abort = true; }},

    {pictures_out, "--out", nullptr, "DIR|FILE", nullptr,
     "folder for the stamped pictures (default: out), or a file\n"
     "name ending in .png, .tga or .jpg: one picture's, or with\n"
     "a frame number, such as stamped/shot.%04d.png, a sequence's",
     [](host_command& c, const std::string& o, const std::string& v) { c.out = path_value(o, v); }},
    {pictures_out, "--format", nullptr, "png|tga|jpg,...", nullptr,
     "the formats to write, one or several such as png,jpg\n"
     "(default: png; from --out's extension when it names a file)",
     [](host_command& c, const std::string&, const std::string& v) {
       c.format_given = true;
       set_formats(c, v);
     }},
    {pictures_out, "--tga", nullptr, nullptr, "--format", "the same as --format png,tga",
     [](host_command& c, const std::string&, const std::string&) {
       c.format_given = true;
       set_formats(c, "png,tga");
     }},
    {pictures_out, "--jpeg-quality", nullptr, "N", nullptr,
     "JPEG quality, 1 to 100 (default: 90; above 90 the colour\n"
     "keeps full resolution)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.jpeg_quality = parse_integer(o, v, 1, 100);
       c.jpeg_quality_given = true;
     }},
    {pictures_out, "--overwrite", "-y", nullptr, nullptr,
     "replace pictures already there (without it velloq-host\n"
     "refuses before writing anything)",
     [](host_command& c, const std::string&, const std::string&) { c.overwrite = true; }},
    {pictures_out, "--skip-existing", nullptr, nullptr, nullptr,
     "stamp only the frames whose pictures are not all there\n"
     "and whole: a run cut short goes on where it stopped, and\n"
     "a picture cut short or empty is stamped again",
     [](host_command& c, const std::string&, const std::string&) { c.skip_existing = true; }},
    {pictures_out, "--jobs", "-j", "N", nullptr,
     "stamp N frames at once, 1 to 64 (default: one per\n"
     "processor core, fewer when memory holds fewer frames);\n"
     "each has its own plug-in component",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.jobs = parse_integer(o, v, 1, max_jobs);
     }},
    {pictures_out, "--module", nullptr, "PATH", nullptr,
     "plug-in module to load (default: the one beside\n"
     "velloq-host, else an installation's lib/velloq/Velloq.so)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.module_path = path_value(o, v);
     }},

    {the_run, "--dry-run", "-n", nullptr, nullptr,
     "print the plan (each frame, its outputs, what would be\n"
     "skipped, replaced or refused) and exit with the status\n"
     "the run would give; writes nothing, makes no folder",
     [](host_command& c, const std::string&, const std::string&) { c.dry_run = true; }},
    {the_run, "--json", nullptr, nullptr, nullptr,
     "on stdout, one JSON object per line: each frame as it is\n"
     "done (or planned, with --dry-run) and a summary at the\n"
     "end; the other lines go to stderr",
     [](host_command& c, const std::string&, const std::string&) { c.json = true; }},
    {the_run, "--quiet", nullptr, nullptr, nullptr, "print only errors and the summary line",
     [](host_command& c, const std::string&, const std::string&) { c.quiet = true; }},

    {render_facts, "--host-version", nullptr, "N", nullptr,
     "host version number (default: 440460, release 11.0.0)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.host_version = parse_integer(o, v, INT32_MIN, INT32_MAX);
     }},
    {render_facts, "--version-text", nullptr, "TEXT", nullptr,
     "the host's version text, used from 440487 on\n"
     "(default: \"Vorlen reference host\")",
     [](host_command& c, const std::string&, const std::string& v) { c.version_text = v; }},
    {render_facts, "--renderer", nullptr, "NAME|UUID", nullptr,
     "draft, ray-tracing, path-tracing, toon, wire-frame, tesserak,\n"
     "or any UUID 8-4-4-4-12 (default: ray-tracing)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.renderer = renderer_from_text(v, o);
     }},
    {render_facts, "--gi", nullptr, "NAME|CODE", nullptr,
     "global illumination: none (0), path-tracing (1),\n"
     "photon-mapping (2), radiosity (3),\n"
     "path-tracing+photon-mapping (5), or any other code\n"
     "(default: none)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.gi_method = gi_method_from_text(v, o);
     }},
    {render_facts, "--irradiance-caching", nullptr, "on|off", nullptr, "(default: off)",
     [](host_command& c, const std::string&, const std::string& v) {
       if (v != "on" && v != "off")
         throw usage_error("--irradiance-caching takes on or off");
       c.irradiance_caching = v == "on";
     }},
    {render_facts, "--setup-time", nullptr, "N", nullptr,
     "setup time, in seconds below host version 440468 and in\n"
     "milliseconds from it on (default: what the host measured\n"
     "for the frame: opening and reading its file's header)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.setup_time = parse_integer(o, v, INT32_MIN, INT32_MAX);
     }},
    {render_facts, "--rendering-time", nullptr, "N", nullptr,
     "rendering time in milliseconds (default: what the host\n"
     "measured for the frame: reading and decoding its picture,\n"
     "or rendering the built-in scene)",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.rendering_time = parse_integer(o, v, INT32_MIN, INT32_MAX);
     }},
    {render_facts, "--facts", nullptr, "FILE", nullptr,
     "each frame's facts from a CSV file (a header line, then a\n"
     "line per frame) or a JSON array of objects: frame,\n"
     "setup_ms, rendering_ms, and optionally host_version,\n"
     "version_text, renderer, gi, irradiance_caching (empty or\n"
     "left out: the options' values). Every frame of the run\n"
     "needs its line; checked before the first picture",
     [](host_command& c, const std::string& o, const std::string& v) {
       c.facts_path = path_value(o, v);
     }},
    {render_facts, "--language", nullptr, "1033|1041", nullptr,
     "the host's language: English or Japanese (default: 1033)",
     [](host_command& c, const std::string& o, const std::string& v) {
       const std::int32_t language = parse_integer(o, v, 0, 65535);
       if (language != 1033 && language != 1041)
         throw usage_error("--language takes 1033 or 1041");
       c.language = static_cast<std::uint16_t>(language);
     }},

    {about, "--help", "-h", nullptr, nullptr, "this text",
     [](host_command& c, const std::string&, const std::string&) { c.help = true; }},
    {about, "--version", nullptr, nullptr, nullptr, "velloq-host's version",
     [](host_command& c, const std::string&, const std::string&) { c.version = true; }},
};

const option_row* find_option(const std::string& name) {
  for (const option_row& row : option_table) {
    if (name == row.name || (row.short_name != nullptr && name == row.short_name))
      return &row;
  }
  return nullptr;
}

// "--jobs N, -j N" as --help lists an option.
std::string option_synopsis(const option_row& row) {
  const std::string value = row.argument != nullptr ? std::string(" ") + row.argument : "";
  std::string synopsis = row.name + value;
  if (row.short_name != nullptr)
    synopsis += std::string(", ") + row.short_name + value;
  return synopsis;
}

}  // namespace

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
    } else if (option.size() > 2 && option[0] == '-' && option[1] != '-') {
      const option_row* row = find_option(option.substr(0, 2));
      if (row != nullptr && row->argument != nullptr) {
        attached = option.substr(2);
        option.erase(2);
      }
    }
    const option_row* row = find_option(option);
    if (row == nullptr)
      throw usage_error("unknown option '" + option + "' (see --help)");
    // Every option but --input once: a second value would silently win.
    const std::string counted = row->counts_as != nullptr ? row->counts_as : row->name;
    if (std::string(row->name) != "--input" && !given.insert(counted).second) {
      if (counted == "--format")
        throw usage_error(option + ": the formats are given once (--format png,tga for both)");
      throw usage_error(option + " is given twice; every option but --input is given once");
    }
    std::string value;
    if (row->argument != nullptr) {
      if (attached) {
        value = *std::exchange(attached, std::nullopt);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw usage_error(option + " needs a value");
      }
    }
    if (attached)
      throw usage_error(option + " takes no value");
    row->apply(command, option, value);
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
                      " is a numbered sequence: --range names its frames, such as --range 1-24 "
                      "(%#, %@ and %% are a #, @ and % of a file name)");
  }
  if (command.range && numbered == nullptr)
    throw usage_error("--range needs a numbered --input such as render.%04d.png");
  if (!command.facts_path.empty() && (command.setup_time || command.rendering_time)) {
    throw usage_error(
        "--facts gives every frame's setup and rendering time: --setup-time and "
        "--rendering-time do not go with it");
  }
  return command;
}

std::string usage_text() {
  std::string text =
      R"(velloq-host: the Velloq reference host. Loads a post-render plug-in, renders a
picture (or takes pictures already rendered), lets the plug-in stamp each one
and writes the results.

usage: velloq-host [options]
)";
  constexpr std::size_t synopsis_width = 25;
  const std::string continuation(2 + synopsis_width + 2, ' ');
  const char* group = nullptr;
  for (const option_row& row : option_table) {
    if (group == nullptr || std::string(group) != row.group) {
      group = row.group;
      text += std::string("\n") + (*group != '\0' ? std::string(group) + "\n" : "");
    }
    std::string synopsis = option_synopsis(row);
    if (synopsis.size() < synopsis_width)
      synopsis.resize(synopsis_width, ' ');
    text += "  " + synopsis + "  ";
    for (const char* line = row.help; *line != '\0'; ++line) {
      text += *line;
      if (*line == '\n')
        text += continuation;
    }
    text += '\n';
  }
  return text + R"(
Options take their value as the next word or after '=' (--jobs=2, -j2); each
is given once, but --input.

The plug-in stamps its report into the bottom-left corner and then makes
every pixel fully opaque: a picture with transparent areas comes back
without them. Pictures keep what their files hold: a 16-bit PNG stays 16-bit
(the samples the report leaves are kept whole), grey stays grey, PNG's
colour, size, text and time chunks and a JPEG's ICC profile go along, and a
TGA is written run-length encoded and from the top when its input was.
JPEG holds no alpha. Pictures of formats velloq-host does not read (TIFF,
OpenEXR, ...) are refused before anything is written.

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

)" + exit_status_help() +
         "A dry run exits with the status the real run would give.\n";
}
