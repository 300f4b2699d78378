#include "refhost/files/output_file.hpp"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int creation_attempts = 16;

std::string temporary_name_for(const fs::path& target, const std::string& random_part) {
  return hidden_name(hidden_key(target.filename().string()), random_part, temporary_suffix);
}

}  // namespace

std::string write_new_file(const std::string& path, const std::string& text) {
  bool taken = false;
  const long long handle = output_platform::create_new(path, taken);
  if (handle == output_platform::no_handle)
    return output_platform::last_error_text();
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const bool written = output_platform::write_all(handle, data, text.size());
  std::string reason = written ? "" : output_platform::last_error_text();
  // Closed whatever the result.
  if (!output_platform::sync_and_close(handle) && written)
    reason = output_platform::last_error_text();
  if (!reason.empty())
    output_platform::remove(path);
  return reason;
}

std::string temporary_path_for(const std::string& target) {
  const fs::path target_path(target);
  return (target_path.parent_path() / temporary_name_for(target_path, unguessable_name_part()))
      .string();
}

output_file::output_file(const std::string& target) : output_file(target, unguessable_name_part) {}

output_file::output_file(const std::string& target, const name_source& random_part)
    : target_(target) {
  const fs::path target_path(target);
  if (!target_path.has_filename())
    throw file_error("cannot write " + target + ": not a file name");
  for (int attempt = 0; attempt < creation_attempts; ++attempt) {
    const std::string candidate =
        (target_path.parent_path() / temporary_name_for(target_path, random_part())).string();
    // Registered and created in one step: an interruption either finds
    // neither or both.
    const interruption_cleanup::guard step;
    interruption_cleanup::track(candidate);
    bool name_taken = false;
    handle_ = output_platform::create_new(candidate, name_taken);
    if (handle_ != output_platform::no_handle) {
      temporary_ = candidate;
      return;
    }
    const std::string reason = output_platform::last_error_text();
    interruption_cleanup::release(candidate);
    // Someone else's file, or a link planted there: never touch it, try
    // another name.
    if (!name_taken)
      throw file_error("cannot write " + target + ": " + reason);
  }
  throw file_error("cannot write " + target + ": every temporary name tried was taken");
}

output_file::~output_file() {
  discard();
}

void output_file::abandon() {
  discard();
}

void output_file::discard() {
  if (handle_ != output_platform::no_handle) {
    output_platform::close(handle_);
    handle_ = output_platform::no_handle;
  }
  if (!temporary_.empty()) {
    const interruption_cleanup::guard step;
    output_platform::remove(temporary_);
    interruption_cleanup::release(temporary_);
    temporary_.clear();
  }
}

// Messages name the target: the temporary is an inner detail of ours.
void output_file::fail(const std::string& what) {
  const std::string reason = output_platform::last_error_text();
  discard();
  throw file_error(what + " " + target_ + ": " + reason);
}

void output_file::write(const unsigned char* data, std::size_t size) {
  if (handle_ == output_platform::no_handle)
    throw file_error("cannot write " + target_ + ": the file is no longer open");
  if (!output_platform::write_all(handle_, data, size))
    fail("cannot write");
}

void output_file::finish() {
  if (handle_ == output_platform::no_handle)
    throw file_error("cannot write " + target_ + ": the file is no longer open");
  const long long handle = handle_;
  handle_ = output_platform::no_handle;
  if (!output_platform::sync_and_close(handle))
    fail("cannot write");
}

void output_file::rename_into_place(replace_policy policy) {
  const interruption_cleanup::guard step;
  bool name_taken = false;
  if (!output_platform::rename_file(temporary_, target_, policy == replace_policy::replace_existing,
                                    name_taken)) {
    if (name_taken) {
      discard();
      throw file_error(target_ + " exists already; it was left as it is");
    }
    fail("cannot write");
  }
  interruption_cleanup::release(temporary_);
  temporary_.clear();
}

void output_file::commit(replace_policy policy) {
  finish();
  rename_into_place(policy);
}

bool is_temporary_name(const std::string& name) {
  return !temporary_key(name).empty();
}

std::string temporary_key(const std::string& name) {
  return key_of_hidden_name(name, temporary_suffix, true);
}

std::vector<std::string> remove_stale_temporaries(
    const std::string& folder, const std::function<bool(const std::string&)>& writer_gone,
    const std::set<std::string>& kept) {
  std::vector<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    // symlink_status: a link of that name is someone else's, not a file of ours.
    std::error_code status_error;
    const std::string name = entry->path().filename().string();
    if (is_temporary_name(name) && kept.count(name) == 0 &&
        fs::is_regular_file(entry->symlink_status(status_error)))
      found.push_back(entry->path());
  }
  std::vector<std::string> removed;
  for (const fs::path& path : found) {
    const std::string name = path.filename().string();
    std::error_code remove_error;
    if (writer_gone(temporary_key(name)) && fs::remove(path, remove_error))
      removed.push_back(name);
  }
  return removed;
}
