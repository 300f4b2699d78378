#include "refhost/files/output_claims.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>

#include "refhost/files/hidden_names.hpp"
#include "refhost/files/output_file.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

namespace {

constexpr char record_title[] = "velloq-host run";
constexpr char locked_word[] = "locked";
constexpr auto renewal_interval = std::chrono::seconds(10);

// What a lease says, a line each: "velloq-host run", the lease's name, the
// machine, the process, when the process began (empty where the system
// does not tell) and whether the run holds its lease's lock. Runs of
// earlier versions wrote the first four lines only.
struct lease_record {
  std::string lease_name;
  std::string machine;
  long long process = 0;
  std::string start_time;
  bool locked = false;
};

bool parse_record(const std::string& text, lease_record& record) {
  std::istringstream lines(text);
  std::string title, process, lock;
  if (!std::getline(lines, title) || title != record_title ||
      !std::getline(lines, record.lease_name) || !std::getline(lines, record.machine) ||
      !std::getline(lines, process) || process.empty() ||
      process.find_first_not_of("0123456789") != std::string::npos || process.size() > 18)
    return false;
  record.process = std::stoll(process);
  if (std::getline(lines, record.start_time) && std::getline(lines, lock))
    record.locked = lock == locked_word;
  return true;
}

bool read_record(const std::string& path, std::string& text) {
  try {
    const std::vector<unsigned char> bytes = read_file_bytes(path, 4096);
    text.assign(bytes.begin(), bytes.end());
    return true;
  } catch (const file_error&) {
    return false;
  }
}

// "process 1234 on this machine", "process 1234 on render-07".
std::string holder_text(const std::string& text, const std::string& this_machine) {
  lease_record record;
  if (!parse_record(text, record))
    return "";
  const std::string host = record.machine.substr(0, record.machine.find(' '));
  return " (process " + std::to_string(record.process) + " on " +
         (record.machine == this_machine ? std::string("this machine") : host) + ")";
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Whether the run whose record `text` the claim at `claim` holds is alive,
// when this machine can tell by itself: for its own runs the lease's lock,
// or the process. Nothing when only the renewal of `lease` (set here) can
// tell: another machine's run, or a claim still being written.
std::optional<bool> alive_here(const std::string& text, const std::string& claim,
                               const std::string& folder, const std::string& machine,
                               std::string& lease) {
  lease_record record;
  lease = claim;  // a claim still being written: its own age tells
  if (!parse_record(text, record))
    return std::nullopt;
  lease = (fs::path(folder) / fs::path(record.lease_name).filename()).string();
  // The lock tells for this machine only: a network file system may keep
  // a crashed machine's lock until that machine starts again.
  if (record.machine != machine)
    return std::nullopt;
  // A claim made by a hard link is the lease itself, also when the lease's
  // name is gone.
  output_platform::lock_state lock = output_platform::lock_on(lease);
  if (lock == output_platform::lock_state::unknown)
    lock = output_platform::lock_on(claim);
  if (lock == output_platform::lock_state::held)
    return true;
  if (lock == output_platform::lock_state::free && record.locked)
    return false;
  // No lock to ask: the process, unless another one has its id now (a
  // container's first process, a reused id, Wine's ids).
  if (!output_platform::process_alive(record.process))
    return false;
  const std::string started = output_platform::process_start_time(record.process);
  return record.start_time.empty() || started.empty() || started == record.start_time;
}

[[noreturn]] void refuse_folder(const std::string& folder, const std::string& reason) {
  throw file_error("cannot write into " + folder + ": " + reason + "; nothing was written");
}

}  // namespace

std::string live_claim_holder(const std::string& path) {
  const fs::path target(path);
  const std::string folder = target.parent_path().string();
  const std::string claim =
      (target.parent_path() / hidden_name(hidden_key(target.filename().string()), "", claim_suffix))
          .string();
  std::string text;
  if (!read_record(claim, text))
    return "";
  const std::string machine = output_platform::machine_name();
  std::string lease;
  std::optional<bool> alive = alive_here(text, claim, folder, machine, lease);
  if (!alive) {
    // Without a lease of its own to renew, this machine's clock stands in
    // for the file server's, which may err where the two disagree.
    std::error_code error;
    const fs::file_time_type seen = fs::last_write_time(lease, error);
    alive = !error && fs::file_time_type::clock::now() - seen <
                          std::chrono::seconds(output_claims::lease_seconds);
  }
  if (!*alive)
    return "";
  const std::string holder = holder_text(text, machine);
  return holder.empty() ? " (a run that is starting)" : holder;
}

output_claims::output_claims(const std::string& folder)
    : folder_(folder),
      machine_(output_platform::machine_name()),
      lease_name_(lease_prefix + unguessable_name_part()),
      lease_handle_(output_platform::no_handle) {
  // Checked before anything is made there: whatever a run made in such a
  // folder would stay for good.
  if (!output_platform::folder_lets_files_go(folder)) {
    refuse_folder(folder,
                  "it is append-only or immutable, so files made there could never be "
                  "renamed or removed again");
  }
  lease_path_ = (fs::path(folder) / lease_name_).string();
  const interruption_cleanup::guard step;
  interruption_cleanup::track(lease_path_);
  bool taken = false;
  lease_handle_ = output_platform::create_new(lease_path_, taken);
  std::string reason =
      lease_handle_ == output_platform::no_handle ? output_platform::last_error_text() : "";
  if (reason.empty()) {
    const bool locked = output_platform::hold_lock(lease_handle_);
    record_ = std::string(record_title) + "\n" + lease_name_ + "\n" + machine_ + "\n" +
              std::to_string(output_platform::process_id()) + "\n" +
              output_platform::process_start_time(output_platform::process_id()) + "\n" +
              (locked ? locked_word : "unlocked") + "\n";
    const auto* data = reinterpret_cast<const unsigned char*>(record_.data());
    if (!output_platform::write_all(lease_handle_, data, record_.size()) ||
        !output_platform::sync(lease_handle_)) {
      reason = output_platform::last_error_text();
      output_platform::close(lease_handle_);
      output_platform::remove(lease_path_);
    }
  }
  if (!reason.empty()) {
    interruption_cleanup::release(lease_path_);
    refuse_folder(folder, reason);
  }
  renewal_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, renewal_interval, [this] { return stopping_; })) renew();
  });
}

output_claims::~output_claims() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  renewal_.join();
  const std::map<std::string, std::string> held = held_;
  for (const auto& [key, output] : held) release_key(key);
  const interruption_cleanup::guard step;
  // Closed first: Windows removes no file that is open.
  output_platform::close(lease_handle_);
  output_platform::remove(lease_path_);
  interruption_cleanup::release(lease_path_);
}

void output_claims::renew() {
  output_platform::touch(lease_path_);
}

std::string output_claims::claim_path(const std::string& key) const {
  return (fs::path(folder_) / hidden_name(key, "", claim_suffix)).string();
}

bool output_claims::live(const std::string& text, const std::string& path) {
  lease_record record;
  if (parse_record(text, record) && record.lease_name == lease_name_)
    return true;
  std::string lease;
  if (const std::optional<bool> known = alive_here(text, path, folder_, machine_, lease))
    return *known;
  // Another machine's run: alive while it renews its lease. On a network
  // file system both times are the server's, so the machines' clocks need
  // not agree.
  renew();
  std::error_code error;
  const fs::file_time_type seen = fs::last_write_time(lease, error);
  if (error)
    return false;
  const fs::file_time_type now = fs::last_write_time(lease_path_, error);
  return error || now - seen < std::chrono::seconds(lease_seconds);
}

bool output_claims::claim_one(const std::string& key, const std::string& output,
                              std::string& holder) {
  if (held_.count(key) != 0)
    return true;
  const std::string path = claim_path(key);
  for (int attempt = 0; attempt < 8; ++attempt) {
    {
      const interruption_cleanup::guard step;
      interruption_cleanup::track(path);
      bool taken = false;
      bool made = output_platform::link_new(lease_path_, path, taken);
      if (!made && !taken) {
        // No hard links here: a copy of the lease, named by an exclusive
        // rename.
        const std::string copy = temporary_path_for(path);
        interruption_cleanup::track(copy);
        std::string reason = write_new_file(copy, record_);
        made = reason.empty() && output_platform::rename_file(copy, path, false, taken);
        if (!made && reason.empty())
          reason = output_platform::last_error_text();
        output_platform::remove(copy);
        interruption_cleanup::release(copy);
        if (!made && !taken) {
          interruption_cleanup::release(path);
          refuse_folder(folder_, reason);
        }
      }
      if (made) {
        held_.emplace(key, output);
        return true;
      }
      interruption_cleanup::release(path);
    }
    std::string text;
    if (!read_record(path, text))
      continue;  // released meanwhile
    lease_record record;
    if (parse_record(text, record) && record.lease_name == lease_name_) {
      // This run's own claim under another name: the file system takes the
      // two names for one.
      std::string other = "another output of this run";
      for (const auto& [held_key, held_output] : held_) {
        if (lower(held_key) == lower(key))
          other = held_output;
      }
      throw output_name_clash(output + " and " + other + " are one file in " + folder_ +
                              ", whose file system does not tell their names apart; nothing "
                              "was written (name the outputs apart)");
    }
    if (live(text, path)) {
      holder = text;
      return false;
    }
    // A dead run's claim is moved aside, and removed if what moved is what
    // was judged dead; a claim another run made meanwhile goes back.
    const interruption_cleanup::guard step;
    const std::string aside = temporary_path_for(path);
    interruption_cleanup::track(aside);
    bool ignored = false;
    if (output_platform::rename_file(path, aside, true, ignored)) {
      std::string moved;
      if (read_record(aside, moved) && moved != text)
        output_platform::rename_file(aside, path, false, ignored);
      output_platform::remove(aside);
    }
    interruption_cleanup::release(aside);
  }
  throw file_error("cannot claim " + output + " in " + folder_ + ": its claim keeps changing");
}

void output_claims::claim(const std::vector<std::string>& paths) {
  std::vector<std::string> claimed;
  const auto give_back = [&] {
    for (const std::string& key : claimed) release_key(key);
  };
  for (const std::string& path : paths) {
    const std::string key = hidden_key(fs::path(path).filename().string());
    if (held_.count(key) != 0)
      continue;
    std::string holder;
    bool claimed_now = false;
    try {
      claimed_now = claim_one(key, path, holder);
    } catch (...) {
      give_back();
      throw;
    }
    if (!claimed_now) {
      give_back();
      throw output_busy_error(path + " is being written by another velloq-host run" +
                              holder_text(holder, machine_) +
                              "; nothing was written (let it finish, or leave that frame out)");
    }
    claimed.push_back(key);
  }
}

bool output_claims::while_holding(const std::vector<std::string>& keys,
                                  const std::function<void()>& work) {
  std::vector<std::string> fresh;
  for (const std::string& key : keys) {
    std::string holder;
    try {
      if (held_.count(key) != 0 || std::find(fresh.begin(), fresh.end(), key) != fresh.end())
        continue;
      if (!claim_one(key, (fs::path(folder_) / key).string(), holder))
        break;
      fresh.push_back(key);
    } catch (const file_error&) {
      break;
    }
  }
  const bool all = std::all_of(keys.begin(), keys.end(),
                               [&](const std::string& key) { return held_.count(key) != 0; });
  if (all)
    work();
  for (const std::string& key : fresh) release_key(key);
  return all;
}

void output_claims::release(const std::string& path) {
  release_key(hidden_key(fs::path(path).filename().string()));
}

void output_claims::release_key(const std::string& key) {
  if (held_.erase(key) == 0)
    return;
  const interruption_cleanup::guard step;
  output_platform::remove(claim_path(key));
  interruption_cleanup::release(claim_path(key));
}

bool output_claims::writer_gone(const std::string& key) {
  if (held_.count(key) != 0)
    return true;
  std::string text;
  const std::string path = claim_path(key);
  return !read_record(path, text) || !live(text, path);
}

void output_claims::remove_dead_runs() {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end;
       entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  for (const std::string& name : names) {
    const std::string path = (fs::path(folder_) / name).string();
    std::string text;
    if (name.rfind(lease_prefix, 0) == 0 && name != lease_name_) {
      std::error_code ignored;
      if (read_record(path, text) && !live(text, path))
        fs::remove(path, ignored);
      continue;
    }
    const std::string key = key_of_hidden_name(name, claim_suffix, false);
    std::string holder;
    if (!key.empty() && held_.count(key) == 0 && read_record(path, text) && !live(text, path) &&
        claim_one(key, (fs::path(folder_) / key).string(), holder))
      release_key(key);
  }
}
