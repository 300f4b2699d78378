#include <windows.h>

#include <cctype>
#include <string>

#include "refhost/folder_lock.hpp"
#include "refhost/system_error_text.hpp"

namespace {

std::string recorded_holder(HANDLE file) {
  char text[24] = {};
  DWORD got = 0;
  OVERLAPPED at{};
  // Reading the locked byte range fails; the id lies beyond it.
  at.Offset = 1;
  if (!ReadFile(file, text, sizeof text - 1, &got, &at))
    return {};
  std::string digits;
  for (DWORD i = 0; i < got && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    digits += text[i];
  }
  return digits;
}

}  // namespace

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
    const std::string holder = recorded_holder(file);
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
      throw folder_busy_error(folder_busy_message(folder, holder));
    throw file_error("cannot lock " + path + ": " + system_error_text(error));
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
