#include <windows.h>

#include "refhost/system/system_error_text.hpp"

std::string system_error_text(std::uint32_t error_code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error_code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty())
    message = "Windows error";
  return message + " (error " + std::to_string(error_code) + ")";
}
