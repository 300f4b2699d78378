#include "refhost/files/frame_commit.hpp"

#include <filesystem>
#include <string>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

namespace {

// A record holds its title, then for each file of the frame its target's
// name and the second name of what the target held before (empty when it
// held nothing), then "end"; NUL between them, as no name holds one.
constexpr char record_title[] = "velloq-host frame";
constexpr char record_end[] = "end";
constexpr char record_suffix[] = ".velloq-frame";

struct frame_entry {
  std::string target;
  std::string kept;  // the second name of the target's earlier file; empty: none
};

std::string folder_of(const std::string& path) {
  return fs::path(path).parent_path().string();
}

std::string in_folder(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

// Written and on disk before the first rename.
std::string write_record(const std::string& folder, const std::vector<frame_entry>& entries) {
  std::string text = record_title + std::string(1, '\0');
  for (const frame_entry& entry : entries) {
    text += fs::path(entry.target).filename().string() + '\0';
    text += (entry.kept.empty() ? "" : fs::path(entry.kept).filename().string()) + '\0';
  }
  text += record_end + std::string(1, '\0');
  const std::string path =
      in_folder(folder, "." + fs::path(entries.front().target).filename().string() + "." +
                            unguessable_name_part() + record_suffix);
  const std::string reason = write_new_file(path, text);
  if (!reason.empty())
    throw file_error("cannot write " + entries.front().target + ": " + reason);
  return path;
}

// The entries of a whole record; none for one cut short (its run died
// before renaming anything).
std::vector<frame_entry> read_record(const std::string& folder, const std::string& path) {
  std::vector<unsigned char> bytes;
  try {
    bytes = read_file_bytes(path, 1 << 16);
  } catch (const file_error&) {
    return {};
  }
  std::vector<std::string> fields(1);
  for (unsigned char byte : bytes) {
    if (byte == 0)
      fields.emplace_back();
    else
      fields.back() += static_cast<char>(byte);
  }
  if (fields.size() < 4 || fields.front() != record_title || fields.back() != "" ||
      fields[fields.size() - 2] != record_end || fields.size() % 2 != 1)
    return {};
  std::vector<frame_entry> entries;
  for (std::size_t at = 1; at + 2 < fields.size(); at += 2) {
    entries.push_back({in_folder(folder, fields[at]),
                       fields[at + 1].empty() ? "" : in_folder(folder, fields[at + 1])});
  }
  return entries;
}

// Each name as it was before the frame: its earlier file back where one
// was kept, nothing where there was none. `renamed`: how many entries had
// been given their new file; a kill leaves it unknown (all).
void put_back(const std::vector<frame_entry>& entries, std::size_t renamed) {
  for (std::size_t k = 0; k < entries.size(); ++k) {
    bool ignored = false;
    std::error_code error;
    if (!entries[k].kept.empty()) {
      if (fs::exists(fs::symlink_status(entries[k].kept, error)))
        output_platform::rename_file(entries[k].kept, entries[k].target, true, ignored);
    } else if (k < renamed) {
      output_platform::remove(entries[k].target);
    }
  }
}

}  // namespace

void commit_together(const std::vector<std::unique_ptr<output_file>>& files,
                     replace_policy policy) {
  for (const std::unique_ptr<output_file>& file : files) file->finish();
  const interruption_cleanup::guard step;
  if (files.size() == 1) {
    files.front()->rename_into_place(policy);
    return;
  }
  // What each name holds now stays reachable under a second, hidden name
  // (a hard link) until every file has its name.
  std::vector<frame_entry> entries;
  for (const std::unique_ptr<output_file>& file : files) {
    std::error_code error;
    const bool there = fs::exists(fs::symlink_status(file->target(), error));
    entries.push_back({file->target(), there ? temporary_path_for(file->target()) : ""});
  }
  const std::string record = write_record(folder_of(files.front()->target()), entries);
  std::size_t renamed = 0;
  try {
    for (frame_entry& entry : entries) {
      bool ignored = false;
      if (!entry.kept.empty() && !output_platform::link_new(entry.target, entry.kept, ignored))
        entry.kept.clear();  // no hard links here: a failed rename cannot put it back
    }
    for (; renamed < files.size(); ++renamed) files[renamed]->rename_into_place(policy);
  } catch (...) {
    put_back(entries, renamed);
    output_platform::remove(record);
    for (const frame_entry& entry : entries) {
      if (!entry.kept.empty())
        output_platform::remove(entry.kept);
    }
    throw;
  }
  output_platform::remove(record);
  for (const frame_entry& entry : entries) {
    if (!entry.kept.empty())
      output_platform::remove(entry.kept);
  }
}

std::vector<std::string> recover_interrupted_frames(const std::string& folder,
                                                    const path_holder& hold) {
  std::vector<std::string> records;
  std::error_code error;
  const std::string suffix = record_suffix;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.size() > suffix.size() && name[0] == '.' &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      records.push_back(entry->path().string());
  }
  std::vector<std::string> recovered;
  for (const std::string& record : records) {
    const std::vector<frame_entry> entries = read_record(folder, record);
    // A record cut short (its run died, or is writing it) is told by its
    // own name; it is a dead run's only when no live run holds its names.
    const std::string name = fs::path(record).filename().string();
    std::vector<std::string> targets = {in_folder(
        folder, name.substr(1, name.size() - 2 - unguessable_part_length - suffix.size()))};
    for (const frame_entry& entry : entries) targets.push_back(entry.target);
    hold(targets, [&] {
      const interruption_cleanup::guard step;
      put_back(entries, entries.size());
      output_platform::remove(record);
      if (!entries.empty())
        recovered.push_back(entries.front().target);
    });
  }
  return recovered;
}
