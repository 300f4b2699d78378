#include <windows.h>

#include <string>

#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/system_error_text.hpp"

namespace output_platform {

long long create_new(const std::string& path, bool& name_taken) {
  // Delete sharing lets the Ctrl-C handler remove the file while it is open;
  // read sharing lets other runs read a lease this run keeps open.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    name_taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return no_handle;
  }
  name_taken = false;
  return reinterpret_cast<long long>(file);
}

bool write_all(long long handle, const unsigned char* data, std::size_t size) {
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr))
      return false;
    data += written;
    size -= written;
  }
  return true;
}

bool sync_and_close(long long handle) {
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  const bool flushed = FlushFileBuffers(file) != 0;
  const DWORD flush_error = GetLastError();
  const bool closed = CloseHandle(file) != 0;
  if (!flushed)
    SetLastError(flush_error);
  return flushed && closed;
}

bool sync(long long handle) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0;
}

void close(long long handle) {
  CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool rename_file(const std::string& from, const std::string& to, bool replace, bool& name_taken) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails if the name exists.
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags))
    return true;
  const DWORD error = GetLastError();
  name_taken = !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
  return false;
}

void remove(const std::string& path) {
  DeleteFileA(path.c_str());
}

bool link_new(const std::string& existing, const std::string& path, bool& name_taken) {
  const bool made = CreateHardLinkA(path.c_str(), existing.c_str(), nullptr) != 0;
  const DWORD error = GetLastError();
  name_taken = !made && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
  return made;
}

void touch(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(file, nullptr, nullptr, &now);
  CloseHandle(file);
}

std::string machine_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  GetComputerNameA(name, &size);
  return name;
}

long long process_id() {
  return static_cast<long long>(GetCurrentProcessId());
}

bool process_alive(long long id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (process == nullptr)
    return GetLastError() == ERROR_ACCESS_DENIED;  // there, but another user's
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string process_start_time(long long id) {
  // PROCESS_QUERY_LIMITED_INFORMATION (Vista on) opens more processes than
  // PROCESS_QUERY_INFORMATION, which XP knows.
  constexpr DWORD query_limited_information = 0x1000;
  const bool own = id == process_id();
  HANDLE process = own ? GetCurrentProcess()
                       : OpenProcess(query_limited_information, FALSE, static_cast<DWORD>(id));
  if (process == nullptr)
    process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (process == nullptr)
    return "";
  FILETIME created, exited, kernel, user;
  const bool known = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
  if (!own)
    CloseHandle(process);
  if (!known)
    return "";
  return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                        created.dwLowDateTime);
}

namespace {

// The byte a run's lock covers lies far past the end of its lease: a lock
// on Windows keeps other processes from the bytes it covers, and the
// lease's own must stay readable.
OVERLAPPED lock_position() {
  OVERLAPPED position{};
  position.OffsetHigh = 0x40000000;
  return position;
}

constexpr DWORD lock_now = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;

}  // namespace

bool hold_lock(long long handle) {
  OVERLAPPED position = lock_position();
  return LockFileEx(reinterpret_cast<HANDLE>(handle), lock_now, 0, 1, 0, &position) != 0;
}

lock_state lock_on(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return lock_state::unknown;
  OVERLAPPED position = lock_position();
  lock_state state = lock_state::free;
  if (LockFileEx(file, lock_now, 0, 1, 0, &position))
    UnlockFileEx(file, 0, 1, 0, &position);
  else
    state = GetLastError() == ERROR_LOCK_VIOLATION ? lock_state::held : lock_state::unknown;
  CloseHandle(file);
  return state;
}

// Windows tells no append-only folders.
bool folder_lets_files_go(const std::string&) {
  return true;
}

bool path_fits(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length != 0 && length < MAX_PATH;
}

std::string last_error_text() {
  return system_error_text(GetLastError());
}

}  // namespace output_platform
