#include "refhost/files/output_claims.hpp"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "refhost/files/output_file.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

namespace {

constexpr char record_title[] = "velloq-host run";
constexpr auto renewal_interval = std::chrono::seconds(10);

// What a lease says: "velloq-host run", the lease's name, the machine and
// the process, a line each.
struct lease_record {
  std::string lease_name;
  std::string machine;
  long long process = 0;
};

bool parse_record(const std::string& text, lease_record& record) {
  std::istringstream lines(text);
  std::string title, process;
  if (!std::getline(lines, title) || title != record_title ||
      !std::getline(lines, record.lease_name) || !std::getline(lines, record.machine) ||
      !std::getline(lines, process) || process.empty() ||
      process.find_first_not_of("0123456789") != std::string::npos)
    return false;
  record.process = std::stoll(process);
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

}  // namespace

std::string live_claim_holder(const std::string& path) {
  const fs::path target(path);
  const fs::path folder = target.parent_path();
  const fs::path claim = folder / ("." + target.filename().string() + output_claims::claim_suffix);
  std::string text;
  if (!read_record(claim.string(), text))
    return "";
  const std::string machine = output_platform::machine_name();
  lease_record record;
  fs::path lease = claim;  // a claim still being written: its own age tells
  if (parse_record(text, record)) {
    if (record.machine == machine) {
      return output_platform::process_alive(record.process) ? holder_text(text, machine)
                                                            : std::string();
    }
    lease = folder / fs::path(record.lease_name).filename();
  }
  std::error_code error;
  const fs::file_time_type seen = fs::last_write_time(lease, error);
  if (error ||
      fs::file_time_type::clock::now() - seen >= std::chrono::seconds(output_claims::lease_seconds))
    return "";
  const std::string holder = holder_text(text, machine);
  return holder.empty() ? " (a run that is starting)" : holder;
}

output_claims::output_claims(const std::string& folder)
    : folder_(folder),
      machine_(output_platform::machine_name()),
      lease_name_(lease_prefix + unguessable_name_part()) {
  lease_path_ = (fs::path(folder) / lease_name_).string();
  record_ = std::string(record_title) + "\n" + lease_name_ + "\n" + machine_ + "\n" +
            std::to_string(output_platform::process_id()) + "\n";
  const interruption_cleanup::guard step;
  interruption_cleanup::track(lease_path_);
  const std::string reason = write_new_file(lease_path_, record_);
  if (!reason.empty()) {
    interruption_cleanup::release(lease_path_);
    throw file_error("cannot write into " + folder + ": " + reason + "; nothing was written");
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
  const std::set<std::string> held = held_;
  for (const std::string& target : held) release((fs::path(folder_) / target).string());
  const interruption_cleanup::guard step;
  output_platform::remove(lease_path_);
  interruption_cleanup::release(lease_path_);
}

void output_claims::renew() {
  output_platform::touch(lease_path_);
}

std::string output_claims::claim_path(const std::string& target) const {
  return (fs::path(folder_) / ("." + target + claim_suffix)).string();
}

bool output_claims::live(const std::string& text, const std::string& path) {
  lease_record record;
  std::string lease = path;  // a claim still being written: its own age tells
  if (parse_record(text, record)) {
    if (record.lease_name == lease_name_)
      return true;
    if (record.machine == machine_)
      return output_platform::process_alive(record.process);
    lease = (fs::path(folder_) / fs::path(record.lease_name).filename()).string();
  }
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

bool output_claims::claim_one(const std::string& target, std::string& holder) {
  if (held_.count(target) != 0)
    return true;
  const std::string path = claim_path(target);
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
          throw file_error("cannot write into " + folder_ + ": " + reason +
                           "; nothing was written");
        }
      }
      if (made) {
        held_.insert(target);
        return true;
      }
      interruption_cleanup::release(path);
    }
    std::string text;
    if (!read_record(path, text))
      continue;  // released meanwhile
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
  throw file_error("cannot claim " + target + " in " + folder_ + ": its claim keeps changing");
}

void output_claims::claim(const std::vector<std::string>& paths) {
  std::vector<std::string> claimed;
  const auto give_back = [&] {
    for (const std::string& path : claimed) release(path);
  };
  for (const std::string& path : paths) {
    const std::string target = fs::path(path).filename().string();
    if (held_.count(target) != 0)
      continue;
    std::string holder;
    bool claimed_now = false;
    try {
      claimed_now = claim_one(target, holder);
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
    claimed.push_back(path);
  }
}

bool output_claims::while_holding(const std::vector<std::string>& paths,
                                  const std::function<void()>& work) {
  std::vector<std::string> fresh;
  for (const std::string& path : paths) {
    if (held_.count(fs::path(path).filename().string()) == 0)
      fresh.push_back(path);
  }
  try {
    claim(fresh);
  } catch (const file_error&) {
    return false;
  }
  work();
  for (const std::string& path : fresh) release(path);
  return true;
}

void output_claims::release(const std::string& path) {
  const std::string target = fs::path(path).filename().string();
  if (held_.erase(target) == 0)
    return;
  const interruption_cleanup::guard step;
  output_platform::remove(claim_path(target));
  interruption_cleanup::release(claim_path(target));
}

bool output_claims::writer_gone(const std::string& target) {
  if (held_.count(target) != 0)
    return true;
  std::string text;
  const std::string path = claim_path(target);
  return !read_record(path, text) || !live(text, path);
}

void output_claims::remove_dead_runs() {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end;
       entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  const std::string suffix = claim_suffix;
  for (const std::string& name : names) {
    const std::string path = (fs::path(folder_) / name).string();
    std::string text;
    if (name.rfind(lease_prefix, 0) == 0 && name != lease_name_) {
      std::error_code ignored;
      if (read_record(path, text) && !live(text, path))
        fs::remove(path, ignored);
    } else if (name.size() > suffix.size() + 1 && name[0] == '.' &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      const std::string target = name.substr(1, name.size() - suffix.size() - 1);
      std::string holder;
      if (held_.count(target) == 0 && read_record(path, text) && !live(text, path) &&
          claim_one(target, holder))
        release((fs::path(folder_) / target).string());
    }
  }
}
