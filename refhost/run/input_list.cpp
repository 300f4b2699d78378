#include "refhost/run/input_list.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/picture_formats.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> pictures_in_folder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    std::error_code status_error;
    if (name[0] != '.' && has_picture_extension(name) && entry->is_regular_file(status_error))
      names.push_back(name);
  }
  if (error)
    throw file_error("cannot list " + folder + ": " + error.message());
  if (names.empty())
    throw file_error(folder + " holds no PNG or TGA picture");
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool has_picture_extension(const std::string& file_name) {
  return format_for_file_name(file_name) != nullptr;
}

std::vector<input_picture> list_input_pictures(const std::vector<std::string>& values,
                                               const std::optional<frame_range>& range) {
  std::vector<input_picture> pictures;
  const auto next_number = [&] { return static_cast<std::int32_t>(pictures.size() + 1); };
  for (const std::string& value : values) {
    if (const std::optional<frame_pattern> pattern = frame_pattern::find(value)) {
      if (!range)
        throw file_error(value + " is a numbered sequence, but no frame range was given");
      for (std::int64_t frame = range->first; frame <= range->last; ++frame) {
        const auto number = static_cast<std::int32_t>(frame);
        pictures.push_back({pattern->path_for(number), number});
      }
      continue;
    }
    std::error_code error;
    if (fs::is_directory(value, error)) {
      for (const std::string& name : pictures_in_folder(value))
        pictures.push_back({(fs::path(value) / name).string(), next_number()});
      continue;
    }
    pictures.push_back({value, next_number()});
  }
  return pictures;
}
