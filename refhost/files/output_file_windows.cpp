#include <windows.h>

#include <string>

#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/system_error_text.hpp"

namespace output_platform {

long long create_new(const std::string& path, bool& name_taken) {
  // Delete sharing lets the Ctrl-C handler remove the file while it is open.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
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

std::string last_error_text() {
  return system_error_text(GetLastError());
}

}  // namespace output_platform
