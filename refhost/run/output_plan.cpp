#include "refhost/run/output_plan.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/files/hidden_names.hpp"
#include "refhost/run/command_line.hpp"
#include "refhost/run/input_list.hpp"

namespace fs = std::filesystem;

namespace {

constexpr char frame_prefix[] = "render_";

bool is_frame_picture_name(const std::string& name) {
  const std::size_t prefix = sizeof frame_prefix - 1;
  const std::size_t dot = name.rfind('.');
  if (name.compare(0, prefix, frame_prefix) != 0 || dot == std::string::npos || dot == prefix)
    return false;
  const std::string extension = name.substr(dot);
  if (std::none_of(std::begin(picture_formats), std::end(picture_formats),
                   [&](const picture_format* format) { return extension == format->extension; }))
    return false;
  return std::all_of(name.begin() + prefix, name.begin() + dot,
                     [](char c) { return c >= '0' && c <= '9'; });
}

bool nobody_may_write(fs::perms permissions) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return (permissions & write) == fs::perms::none;
}

}  // namespace

std::string frame_picture_path(const std::string& folder, std::int32_t frame_index,
                               const picture_format& format) {
  std::ostringstream name;
  name << folder << "/" << frame_prefix << std::setw(4) << std::setfill('0') << frame_index + 1
       << format.extension;
  return name.str();
}

output_naming parse_output_naming(const std::string& out) {
  output_naming naming;
  std::error_code error;
  const fs::path path(out);
  const std::string name = path.filename().string();
  // A trailing separator, or a folder that is there, names a folder as it
  // is written.
  if (fs::is_directory(path, error)) {
    naming.folder = out;
    return naming;
  }
  if (name.empty()) {
    naming.folder = literal_path(path.parent_path().string());
    return naming;
  }
  const std::optional<frame_pattern> pattern = frame_pattern::find(name);
  const std::string folder =
      path.has_parent_path() ? literal_path(path.parent_path().string()) : ".";
  if (has_picture_extension(name)) {
    naming.folder = folder;
    naming.file_name = pattern ? name : literal_path(name);
    naming.pattern = pattern;
    naming.format = format_for_file_name(naming.file_name);
    return naming;
  }
  if (pattern) {
    throw usage_error("--out " + out +
                      " has a frame number but no picture extension: end it in .png, .tga or .jpg");
  }
  naming.folder = literal_path(out);
  // Another run may make the folder any moment (a farm's chunks start
  // together): only something there that is no folder is refused.
  if (fs::exists(fs::symlink_status(naming.folder, error)) &&
      !fs::is_directory(naming.folder, error)) {
    throw usage_error("--out " + out +
                      " is a file, not a folder: name a folder, or a picture ending in .png, "
                      ".tga or .jpg");
  }
  // "result.jpg", "shot.exr": a file of a kind velloq-host does not write,
  // not a folder to make. A folder of such a name is made first or given
  // with a trailing separator.
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
  const bool file_like =
      extension.size() >= 2 && extension.size() <= 4 &&
      std::isalpha(static_cast<unsigned char>(extension[0])) &&
      std::all_of(extension.begin(), extension.end(),
                  [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }) &&
      !((extension[0] == 'v' || extension[0] == 'V') &&
        std::all_of(extension.begin() + 1, extension.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }));
  if (file_like) {
    throw usage_error("--out " + out + " looks like a ." + extension +
                      " file, but velloq-host writes PNG, TGA and JPEG: end it in .png, .tga or "
                      ".jpg, or in / for a folder of that name");
  }
  return naming;
}

std::string frame_output_path(const output_naming& naming, const std::string& input_path,
                              std::int32_t number, const picture_format& format) {
  const fs::path folder(naming.folder);
  if (!naming.file_name.empty()) {
    return (folder / (naming.pattern ? naming.pattern->path_for(number) : naming.file_name))
        .string();
  }
  if (input_path.empty())
    return frame_picture_path(naming.folder, number - 1, format);
  // render.0001.png becomes render.0001.tga; a name without a picture
  // extension keeps all of itself (frame.0001 becomes frame.0001.tga).
  fs::path name = fs::path(input_path).filename();
  if (has_picture_extension(name.string()))
    name.replace_extension();
  return (folder / (name.string() + format.extension)).string();
}

output_state inspect_output(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::exists(status))
    return output_state::absent;
  if (fs::is_directory(status))
    return output_state::folder;
  if (fs::is_regular_file(status) && nobody_may_write(status.permissions()))
    return output_state::read_only;
  return output_state::present;
}

bool all_outputs_there(const std::vector<std::string>& outputs) {
  return std::all_of(outputs.begin(), outputs.end(), [](const std::string& path) {
    return inspect_output(path) != output_state::absent;
  });
}

std::string outputs_there_text(const std::vector<std::string>& there, bool skipping_existing) {
  const std::size_t others = there.size() - 1;
  std::string text = there.front();
  if (others > 0)
    text += " and " + std::to_string(others) + (others == 1 ? " more output" : " more outputs");
  text += std::string(others > 0 ? " exist" : " exists") + " already; nothing was written (";
  if (!skipping_existing)
    text += "--skip-existing leaves out the frames whose pictures are all there; ";
  return text + "-y or --overwrite replaces " + (others > 0 ? "them)" : "it)");
}

void check_outputs_free(const std::vector<std::string>& paths, bool overwrite,
                        bool skipping_existing, const std::set<std::string>& replaceable) {
  std::vector<std::string> there;
  for (const std::string& path : paths) {
    const output_state state = inspect_output(path);
    if (state == output_state::absent)
      continue;
    if (!overwrite && replaceable.count(path) == 0)
      there.push_back(path);
    else if (state == output_state::folder)
      throw file_error(path + " is a folder; nothing was written");
    else if (state == output_state::read_only)
      throw file_error(path + " is read-only, so it is kept; nothing was written");
  }
  if (!there.empty())
    throw file_error(outputs_there_text(there, skipping_existing));
}

void check_paths_fit(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const std::string limitation = path_limitation(path);
    if (!limitation.empty())
      throw usage_error(limitation + "; nothing was written");
  }
}

std::vector<std::string> other_frame_pictures(const std::string& folder,
                                              const std::vector<std::string>& written_paths) {
  std::set<std::string> written;
  for (const std::string& path : written_paths) written.insert(fs::path(path).filename().string());
  std::vector<std::string> others;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (is_frame_picture_name(name) && written.count(name) == 0)
      others.push_back(name);
  }
  std::sort(others.begin(), others.end());
  return others;
}
