#include "refhost/files/frame_commit.hpp"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/files/hidden_names.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

namespace {

// A record holds its title, then for each file of the frame four fields:
// its target's name, its temporary's, the name its target's earlier file
// is kept under (empty when the target held nothing) and the new file's
// fingerprint; then "end". NUL between them, as no name holds one.
// Records of earlier versions hold two fields a file, the target and the
// earlier file's name, under the old title.
constexpr char record_title[] = "velloq-host frame 2";
constexpr char old_record_title[] = "velloq-host frame";
constexpr char record_end[] = "end";

struct frame_entry {
  std::string target;
  std::string temporary;
  std::string earlier;      // where the target's earlier file is kept; empty: none
  std::string fingerprint;  // of the new file; empty in an old record
};

std::string in_folder(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

std::string name_of(const std::string& path) {
  return path.empty() ? "" : fs::path(path).filename().string();
}

// The size and time of change of a file, which a rename keeps: whether the
// file under a name is still the one a run put there. Empty when there is
// no regular file.
std::string fingerprint(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error)))
    return "";
  const std::uintmax_t size = fs::file_size(path, error);
  const fs::file_time_type changed = fs::last_write_time(path, error);
  if (error)
    return "";
  return std::to_string(size) + " " + std::to_string(changed.time_since_epoch().count());
}

bool there(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::exists(fs::symlink_status(path, error));
}

// A copy of `from` at the new name `to`, on disk when it returns. Throws
// file_error naming `target`, with nothing of the copy left.
void copy_to_new_file(const std::string& from, const std::string& to, const std::string& target) {
  bool taken = false;
  const long long handle = output_platform::create_new(to, taken);
  if (handle == output_platform::no_handle)
    throw file_error("cannot write " + target + ": " + output_platform::last_error_text());
  std::string reason;
  try {
    input_file source(from);
    std::vector<unsigned char> piece(std::size_t{1} << 20);
    for (std::size_t got; reason.empty() && (got = source.read(piece.data(), piece.size())) > 0;) {
      if (!output_platform::write_all(handle, piece.data(), got))
        reason = output_platform::last_error_text();
    }
  } catch (const file_error& error) {
    reason = error.what();
  }
  if (!output_platform::sync_and_close(handle) && reason.empty())
    reason = output_platform::last_error_text();
  if (!reason.empty()) {
    output_platform::remove(to);
    throw file_error("cannot write " + target + ": cannot keep its earlier file: " + reason);
  }
}

// The target's earlier file, kept under `earlier` until the frame's files
// have their names: a second name where the file system makes hard links,
// a copy where it does not (FAT, exFAT, some network shares). False for a
// folder, which no file replaces: its rename fails.
bool keep_earlier_file(const std::string& target, const std::string& earlier) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(target, error);
  if (fs::is_directory(status))
    return false;
  bool taken = false;
  if (output_platform::link_new(target, earlier, taken))
    return true;
  if (taken || !fs::is_regular_file(status)) {
    throw file_error("cannot write " + target + ": its earlier file cannot be kept (" +
                     output_platform::last_error_text() + ")");
  }
  copy_to_new_file(target, earlier, target);
  return true;
}

// Written and on disk before the first rename, naming only earlier files
// that are kept already.
std::string write_record(const std::string& folder, const std::vector<frame_entry>& entries) {
  std::string text = record_title + std::string(1, '\0');
  for (const frame_entry& entry : entries) {
    for (const std::string& field : {name_of(entry.target), name_of(entry.temporary),
                                     name_of(entry.earlier), entry.fingerprint})
      text += field + '\0';
  }
  text += record_end + std::string(1, '\0');
  const std::string key = hidden_key(name_of(entries.front().target));
  const std::string path =
      in_folder(folder, hidden_name(key, unguessable_name_part(), frame_record_suffix));
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
  const bool old = fields.front() == old_record_title;
  const std::size_t per_file = old ? 2 : 4;
  if ((!old && fields.front() != record_title) || fields.size() < 3 + per_file ||
      fields.back() != "" || fields[fields.size() - 2] != record_end ||
      (fields.size() - 3) % per_file != 0)
    return {};
  const auto path_of = [&](const std::string& name) {
    // Names only: a record cannot send a run outside its folder.
    return name.empty() || name.find_first_of("/\\") != std::string::npos ? ""
                                                                          : in_folder(folder, name);
  };
  std::vector<frame_entry> entries;
  for (std::size_t at = 1; at + 2 < fields.size(); at += per_file) {
    if (old)
      entries.push_back({path_of(fields[at]), "", path_of(fields[at + 1]), ""});
    else
      entries.push_back(
          {path_of(fields[at]), path_of(fields[at + 1]), path_of(fields[at + 2]), fields[at + 3]});
    if (entries.back().target.empty())
      return {};
  }
  return entries;
}

void drop_earlier_files(const std::vector<frame_entry>& entries) {
  for (const frame_entry& entry : entries) {
    if (!entry.earlier.empty())
      output_platform::remove(entry.earlier);
  }
}

// The frame's names as they were before it: the first `renamed` entries
// had their new files, which go, their earlier files back where there were.
void put_back(const std::vector<frame_entry>& entries, std::size_t renamed) {
  for (std::size_t k = 0; k < renamed; ++k) {
    bool ignored = false;
    if (!entries[k].earlier.empty())
      output_platform::rename_file(entries[k].earlier, entries[k].target, true, ignored);
    else
      output_platform::remove(entries[k].target);
  }
}

// What a killed run's record says to do now: only names that still hold
// the file that run put there are changed. A name holds it when its
// temporary is gone (renamed) and what is there has its fingerprint: a
// fingerprint alone can match an earlier file of the same size on a file
// system that keeps times to the second, as FAT and exFAT do.
recovered_frame recover(const std::vector<frame_entry>& entries) {
  recovered_frame done;
  std::vector<bool> ours;
  for (const frame_entry& entry : entries) {
    ours.push_back(!entry.fingerprint.empty() && !there(entry.temporary) &&
                   fingerprint(entry.target) == entry.fingerprint);
  }
  const bool whole =
      !entries.empty() && std::all_of(ours.begin(), ours.end(), [](bool b) { return b; });
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const frame_entry& entry = entries[k];
    bool ignored = false;
    if (whole) {
      // Every file had its name: the frame is whole as it is.
    } else if (ours[k] || entry.fingerprint.empty()) {
      // An old record tells no fingerprint: its earlier file comes back
      // where it is kept, and nothing else is touched.
      if (there(entry.earlier) &&
          output_platform::rename_file(entry.earlier, entry.target, true, ignored)) {
        done.restored.push_back(entry.target);
      } else if (!entry.fingerprint.empty()) {
        // Nothing was there, or what was is gone: better no file than a
        // frame of two runs.
        output_platform::remove(entry.target);
        done.removed.push_back(entry.target);
      }
    }
    if (!entry.temporary.empty())
      output_platform::remove(entry.temporary);
  }
  drop_earlier_files(entries);
  return done;
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
  std::vector<frame_entry> entries;
  std::string record;
  try {
    for (const std::unique_ptr<output_file>& file : files) {
      entries.push_back(
          {file->target(), file->temporary_path(), "", fingerprint(file->temporary_path())});
      const std::string earlier = temporary_path_for(file->target());
      if (there(file->target()) && keep_earlier_file(file->target(), earlier))
        entries.back().earlier = earlier;
    }
    record = write_record(fs::path(files.front()->target()).parent_path().string(), entries);
  } catch (...) {
    drop_earlier_files(entries);
    for (const std::unique_ptr<output_file>& file : files) file->abandon();
    throw;
  }
  std::size_t renamed = 0;
  try {
    for (; renamed < files.size(); ++renamed) files[renamed]->rename_into_place(policy);
  } catch (...) {
    put_back(entries, renamed);
    output_platform::remove(record);
    drop_earlier_files(entries);
    for (const std::unique_ptr<output_file>& file : files) file->abandon();
    throw;
  }
  output_platform::remove(record);
  drop_earlier_files(entries);
}

frame_recovery recover_interrupted_frames(const std::string& folder, const path_holder& hold) {
  std::vector<std::string> records;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (!key_of_hidden_name(name, frame_record_suffix, true).empty())
      records.push_back(entry->path().string());
  }
  frame_recovery recovery;
  for (const std::string& record : records) {
    const std::vector<frame_entry> entries = read_record(folder, record);
    // A record cut short (its run died, or is writing it) is told by its
    // own name; it is a dead run's only when no live run holds its names.
    std::vector<std::string> keys = {
        key_of_hidden_name(name_of(record), frame_record_suffix, true)};
    for (const frame_entry& entry : entries) keys.push_back(hidden_key(name_of(entry.target)));
    const bool held = hold(keys, [&] {
      const interruption_cleanup::guard step;
      const recovered_frame done = recover(entries);
      output_platform::remove(record);
      if (!done.restored.empty() || !done.removed.empty())
        recovery.frames.push_back(done);
    });
    if (!held) {
      for (const frame_entry& entry : entries) {
        recovery.kept.insert(name_of(entry.temporary));
        recovery.kept.insert(name_of(entry.earlier));
      }
    }
  }
  return recovery;
}
