// USER32.dll as the module uses it: the display devices and screen,
// wsprintf, strings from the module's resources, and the message boxes,
// which a plug-in must never show: the host runs unattended on render
// farms and from scripts, where nobody clicks them, and then hangs.

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include <unicorn/unicorn.h>

#include "emulated_windows/process/pe_file.hpp"
#include "emulated_windows/process/windows_loader.hpp"
#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/printf_format.hpp"

namespace {

constexpr char user32[] = "USER32.dll";
constexpr std::uint32_t desktop_window = 0x00010014, host_window = 0x000A0012;
// wsprintf writes at most 1,024 characters.
constexpr std::size_t wsprintf_limit = 1024;

// The `index`-th string of a module's string table (RT_STRING, blocks of
// 16 counted UTF-16 strings), in United States English or neutral.
std::optional<std::string> resource_string(const pe_file& image, std::uint32_t id) {
  const std::string block = "#" + std::to_string(id / 16 + 1);
  std::optional<std::vector<unsigned char>> table = image.resource("#6", block, 1033);
  if (!table)
    table = image.resource("#6", block, 0);
  if (!table)
    return std::nullopt;
  std::size_t at = 0;
  for (std::uint32_t i = 0; i <= id % 16; ++i) {
    if (at + 2 > table->size())
      return std::nullopt;
    const std::size_t length = (*table)[at] | (*table)[at + 1] << 8;
    if (i == id % 16) {
      std::string text;
      for (std::size_t k = 0; k < length && at + 3 + 2 * k < table->size(); ++k) {
        const unsigned unit = (*table)[at + 2 + 2 * k] | (*table)[at + 3 + 2 * k] << 8;
        text += unit <= 0xFF ? static_cast<char>(unit) : '?';
      }
      return length == 0 ? std::nullopt : std::optional<std::string>(text);
    }
    at += 2 + 2 * length;
  }
  return std::nullopt;
}

}  // namespace

void provide_user32(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, user32};

  // Message boxes: (window, text, caption, type), and their variants.
  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    for (const auto& [name, popped, text_at] :
         {std::tuple<std::string, std::uint16_t, int>{"MessageBox", 16, 1},
          {"MessageBoxEx", 20, 1},
          {"MessageBoxIndirect", 4, -1}}) {
      const std::string function = name + suffix;
      const int text_index = text_at;
      provide(function, popped, [&p, function, text_index, wide](stub_call& c) {
        // MSGBOXPARAMS holds the text at offset 12.
        const std::uint32_t text = text_index < 0 ? p.cpu.read32(c.arg(0) + 12) : c.arg(text_index);
        c.cpu.stop_call("shows a message box (" + function + ", \"" +
                        (text == 0 ? std::string() : read_text(p.cpu, text, wide)) +
                        "\") and waits for someone to click it: a host rendering unattended "
                        "hangs there");
      });
    }
  }
  provide("MessageBeep", 4, [](stub_call& c) { c.result(1); });

  // wsprintf(buffer, format, ...) (cdecl) and wvsprintf(buffer, format,
  // va_list): at most 1,024 characters and a NUL.
  auto wsprintf = [&p](std::uint32_t to, std::uint32_t format, std::uint32_t arguments) {
    emulated_arguments list{p.cpu, arguments};
    const std::string text =
        format_printf(p.cpu, p.cpu.read_string(format), list).substr(0, wsprintf_limit - 1);
    p.cpu.write(to, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
  };
  p.provide(user32, "wsprintfA", 0, [&p, wsprintf](stub_call& c) {
    c.result(wsprintf(c.arg(0), c.arg(1), p.cpu.reg(UC_X86_REG_ESP) + 12));
  });
  provide("wvsprintfA", 12,
          [wsprintf](stub_call& c) { c.result(wsprintf(c.arg(0), c.arg(1), c.arg(2))); });

  // LoadString(module, id, buffer, size): the string copied, cut to fit.
  auto images = std::make_shared<std::map<std::uint32_t, std::shared_ptr<const pe_file>>>();
  for (const bool wide : {false, true}) {
    provide(wide ? "LoadStringW" : "LoadStringA", 16, [&p, images, wide](stub_call& c) {
      const loaded_module* module = p.image_at(c.arg(0));
      if (module == nullptr || module->base() != c.arg(0)) {
        p.set_last_error(windows_error::invalid_handle);
        c.result(0);
        return;
      }
      std::shared_ptr<const pe_file>& image = (*images)[c.arg(0)];
      if (!image)
        image = std::make_shared<const pe_file>(pe_file::read(module->path()));
      const std::optional<std::string> text = resource_string(*image, c.arg(1) & 0xFFFF);
      if (!text || c.arg(3) == 0) {
        if (!text)
          p.set_last_error(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
        c.result(0);
        return;
      }
      const std::string kept = text->substr(0, c.arg(3) - 1);
      write_text(p.cpu, c.arg(2), c.arg(3), kept, wide);
      c.result(static_cast<std::uint32_t>(kept.size()));
    });
  }

  // The screen: one monitor of 1920x1080, a desktop and the host's window.
  provide("GetSystemMetrics", 4, [](stub_call& c) {
    switch (c.arg(0)) {
      case 0:   // SM_CXSCREEN
      case 78:  // SM_CXVIRTUALSCREEN
        return c.result(1920);
      case 1:   // SM_CYSCREEN
      case 79:  // SM_CYVIRTUALSCREEN
        return c.result(1080);
      case 80:  // SM_CMONITORS
        return c.result(1);
      default:
        return c.result(0);
    }
  });
  provide("GetDesktopWindow", 0, [](stub_call& c) { c.result(desktop_window); });
  for (const char* name : {"GetForegroundWindow", "GetActiveWindow"})
    provide(name, 0, [](stub_call& c) { c.result(host_window); });

  // EnumDisplayDevicesA(device, index, DISPLAY_DEVICEA*, flags): adapters
  // by index until the list runs out.
  provide("EnumDisplayDevicesA", 16, [&p](stub_call& c) {
    const std::uint32_t record = c.arg(2);
    const std::uint32_t size = p.cpu.read32(record);
    if (size != 424) {
      p.breach("EnumDisplayDevicesA with a record size of " + std::to_string(size) + ", not 424");
      c.result(0);
      return;
    }
    if (c.arg(0) != 0 || c.arg(3) != 0)
      p.breach("EnumDisplayDevicesA asked about a named device or with flags");
    if (c.arg(1) >= p.machine.adapters.size()) {
      c.result(0);
      return;
    }
    const display_adapter& adapter = p.machine.adapters[c.arg(1)];
    // cb, DeviceName[32], DeviceString[128], StateFlags, DeviceID[128], DeviceKey[128]
    std::vector<std::uint8_t> bytes(424, 0);
    std::memcpy(bytes.data(), &size, 4);
    const std::string name = "\\\\.\\DISPLAY" + std::to_string(c.arg(1) + 1);
    std::memcpy(bytes.data() + 4, name.c_str(), name.size());
    std::memcpy(bytes.data() + 36, adapter.device_string.c_str(),
                std::min<std::size_t>(adapter.device_string.size(), 127));
    std::memcpy(bytes.data() + 164, &adapter.state_flags, 4);
    p.cpu.write(record, bytes.data(), bytes.size());
    c.result(1);
  });
}
