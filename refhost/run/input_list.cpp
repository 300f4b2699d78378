#include "refhost/run/input_list.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/picture_formats.hpp"
#include "refhost/pictures/picture_header.hpp"
#include "refhost/run/command_line.hpp"

namespace fs = std::filesystem;

namespace {

// "a FIFO", "a folder": what a path names instead of a regular file.
std::string kind_of(const fs::file_status& status) {
  switch (status.type()) {
    case fs::file_type::not_found:
      return "a link to nothing";
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    default:
      return "no regular file";
  }
}

// "12 OpenEXR files", "a TIFF file and 3 DPX files": the pictures of
// formats velloq-host does not read, counted by format in the order met.
std::string unread_pictures_text(const std::vector<std::pair<std::string, std::size_t>>& counts) {
  std::string text;
  for (std::size_t k = 0; k < counts.size(); ++k) {
    text += k == 0 ? "" : k + 1 == counts.size() ? " and " : ", ";
    text += (counts[k].second == 1 ? std::string("a") : std::to_string(counts[k].second)) + " " +
            counts[k].first + (counts[k].second == 1 ? " file" : " files");
  }
  return text;
}

void add_folder(const std::string& folder, input_listing& listing) {
  std::vector<std::string> names;
  std::vector<std::pair<std::string, std::size_t>> unread;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name[0] == '.')
      continue;
    if (!has_picture_extension(name)) {
      const std::string format = unread_format_of_name(name);
      if (format.empty())
        continue;
      const auto counted = std::find_if(unread.begin(), unread.end(),
                                        [&](const auto& count) { return count.first == format; });
      if (counted == unread.end())
        unread.emplace_back(format, 1);
      else
        ++counted->second;
      continue;
    }
    std::error_code status_error;
    const fs::file_status status = fs::status(entry->path(), status_error);
    if (fs::is_regular_file(status))
      names.push_back(name);
    else
      listing.skipped.push_back(entry->path().string() + " (" + kind_of(status) + ")");
  }
  if (error)
    throw file_error("cannot list " + folder + ": " + error.message());
  if (names.empty() && !unread.empty()) {
    throw usage_error(folder + " holds no picture velloq-host reads, only " +
                      unread_pictures_text(unread) + "; it reads " + formats_read);
  }
  if (names.empty())
    throw file_error(folder + " holds no picture (" + formats_read + ")");
  if (!unread.empty()) {
    listing.skipped.push_back(folder + ": " + unread_pictures_text(unread) +
                              ", which velloq-host does not read (it reads " + formats_read + ")");
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const auto number = static_cast<std::int32_t>(listing.pictures.size() + 1);
    listing.pictures.push_back({(fs::path(folder) / name).string(), number, ""});
  }
}

}  // namespace

bool has_picture_extension(const std::string& file_name) {
  return format_for_file_name(file_name) != nullptr;
}

input_listing list_inputs(const std::vector<std::string>& values,
                          const std::optional<frame_list>& range) {
  input_listing listing;
  for (const std::string& value : values) {
    std::error_code error;
    if (fs::is_directory(value, error)) {
      add_folder(value, listing);
      continue;
    }
    if (const std::optional<frame_pattern> pattern = frame_pattern::find(value)) {
      if (!range)
        throw file_error(value + " is a numbered sequence, but no frame range was given");
      for (const std::int32_t number : range->frames)
        listing.pictures.push_back({pattern->path_for(number), number, value});
      continue;
    }
    const std::string path = literal_path(value);
    if (fs::is_directory(path, error)) {
      add_folder(path, listing);
      continue;
    }
    const auto number = static_cast<std::int32_t>(listing.pictures.size() + 1);
    listing.pictures.push_back({path, number, ""});
  }
  return listing;
}

void check_input_formats(const std::vector<input_picture>& pictures) {
  std::vector<const input_picture*> unread;
  std::string format;
  for (const input_picture& picture : pictures) {
    const std::string found = unread_format(picture.path);
    if (found.empty())
      continue;
    if (unread.empty())
      format = found;
    unread.push_back(&picture);
  }
  if (unread.empty())
    return;
  const std::string first = unread.front()->path;
  const std::string others =
      unread.size() == 1 ? " is a " + format + " picture, which velloq-host does not read"
                         : " and " + std::to_string(unread.size() - 1) + " more inputs are " +
                               "pictures of formats it does not read (the first a " + format + ")";
  throw usage_error(first + others + "; it reads " + formats_read + "; nothing was written");
}

void check_inputs_present(const std::vector<input_picture>& pictures) {
  std::vector<std::string> problems;
  std::vector<std::int32_t> missing_frames;
  const std::string* sequence = nullptr;
  const auto tell_missing_frames = [&] {
    if (missing_frames.empty())
      return;
    std::sort(missing_frames.begin(), missing_frames.end());
    problems.push_back((missing_frames.size() == 1 ? "frame " : "frames ") +
                       frames_text(missing_frames) + " of " + *sequence +
                       (missing_frames.size() == 1 ? " is" : " are") + " missing");
    missing_frames.clear();
  };
  for (const input_picture& picture : pictures) {
    if (sequence == nullptr || picture.sequence != *sequence) {
      tell_missing_frames();
      sequence = &picture.sequence;
    }
    std::error_code error;
    const fs::file_status status = fs::status(picture.path, error);
    if (error && status.type() != fs::file_type::not_found)
      problems.push_back(picture.path + " cannot be read: " + error.message());
    else if (status.type() == fs::file_type::not_found && !picture.sequence.empty())
      missing_frames.push_back(picture.number);
    else if (status.type() == fs::file_type::not_found)
      problems.push_back(picture.path + " is missing");
    else if (!error && !fs::is_regular_file(status))
      problems.push_back(picture.path + " is " + kind_of(status) + ", not a picture file");
  }
  tell_missing_frames();
  if (problems.empty())
    return;
  std::string message;
  for (const std::string& problem : problems) message += (message.empty() ? "" : "; ") + problem;
  throw file_error(message + "; nothing was written");
}
