#include <windows.h>

#include <string>

#include "refhost/files/folder_lock.hpp"
#include "refhost/system/system_error_text.hpp"

folder_lock::folder_lock(const std::string& folder) {
  const std::string path = folder + "\\" + file_name;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw file_error("cannot open the lock file " + path + ": " +
                     system_error_text(GetLastError()));
  }
  // The first byte is the lock; Windows releases it when the process ends.
  OVERLAPPED range{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
    const DWORD error = GetLastError();
    // The id lies past the locked first byte, where it can be read.
    char record[24];
    DWORD got = 0;
    OVERLAPPED past_lock{};
    past_lock.Offset = 1;
    if (!ReadFile(file, record, sizeof record, &got, &past_lock))
      got = 0;
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
      throw folder_busy_error(folder_busy_message(folder, record, got));
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
      throw file_error("cannot lock " + path + ": " + system_error_text(error));
    unsupported_reason_ = system_error_text(error);
    return;
  }
  // Byte 0 stays a blank; the process id follows it, outside the lock.
  const std::string record = " " + std::to_string(GetCurrentProcessId()) + "\r\n";
  DWORD written = 0;
  OVERLAPPED start{};
  if (WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, &start))
    SetEndOfFile(file);
  handle_ = reinterpret_cast<long long>(file);
}

folder_lock::~folder_lock() {
  if (handle_ != -1)
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
