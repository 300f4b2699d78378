// ADVAPI32.dll as a plug-in uses it: the user's name and the registry, a
// registry of the process's own that starts empty (a fresh machine's, as
// far as the plug-in's keys go): what the plug-in writes it reads back,
// and every key it opens is a handle in the process's books.

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/host_environment.hpp"

namespace {

constexpr char advapi32[] = "ADVAPI32.dll";
constexpr std::uint32_t error_success = 0, error_file_not_found = 2, error_invalid_handle = 6,
                        error_access_denied = 5, error_more_data = 234;
constexpr std::uint32_t reg_sz = 1, reg_expand_sz = 2, reg_multi_sz = 7;

struct registry_value {
  std::uint32_t type = 0;
  // The bytes as written; texts (REG_SZ and the like) as characters, so
  // that the A and W functions read each other's.
  std::vector<std::uint8_t> bytes;
  std::string text;
  bool is_text() const { return type == reg_sz || type == reg_expand_sz || type == reg_multi_sz; }
};

// Keys by their path in lower case ("hkey_current_user\software\vendor").
struct registry {
  std::map<std::string, std::map<std::string, registry_value>> keys;
};

const char* root_name(std::uint32_t key) {
  switch (key) {
    case 0x80000000:
      return "hkey_classes_root";
    case 0x80000001:
      return "hkey_current_user";
    case 0x80000002:
      return "hkey_local_machine";
    case 0x80000003:
      return "hkey_users";
    default:
      return nullptr;
  }
}

}  // namespace

void provide_advapi32(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, advapi32};
  auto reg = std::make_shared<registry>();
  for (const char* root :
       {"hkey_classes_root", "hkey_current_user", "hkey_local_machine", "hkey_users"})
    reg->keys[root];

  // The path of an open key or root; empty for neither.
  auto path_of = [&p](std::uint32_t key) -> std::string {
    if (const char* root = root_name(key))
      return root;
    const auto object = p.object_of(key);
    return object != nullptr && object->kind == "registry key" ? object->name : std::string();
  };
  auto under = [](const std::string& parent, const std::string& sub) {
    std::string path = parent;
    std::string part;
    for (const char c : sub + "\\") {
      if (c != '\\') {
        part += c;
      } else if (!part.empty()) {
        path += "\\" + lowered(part);
        part.clear();
      }
    }
    return path;
  };
  auto open_key = [&p](const std::string& path) {
    auto key = std::make_shared<kernel_object>("registry key");
    key->name = path;
    return p.open_handle(key);
  };

  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    auto text = [&p, wide](std::uint32_t at) {
      return at == 0 ? std::string() : read_text(p.cpu, at, wide);
    };
    // RegOpenKeyEx(key, subkey, options, access, out) and RegOpenKey(key,
    // subkey, out).
    auto open = [&p, reg, path_of, under, open_key, text](stub_call& c, std::uint32_t out) {
      const std::string parent = path_of(c.arg(0));
      if (parent.empty())
        return c.result(error_invalid_handle);
      const std::string path = under(parent, text(c.arg(1)));
      if (reg->keys.count(path) == 0)
        return c.result(error_file_not_found);
      p.cpu.write32(out, open_key(path));
      c.result(error_success);
    };
    provide("RegOpenKeyEx" + suffix, 20, [open](stub_call& c) { open(c, c.arg(4)); });
    provide("RegOpenKey" + suffix, 12, [open](stub_call& c) { open(c, c.arg(2)); });
    // RegCreateKeyEx(key, subkey, reserved, class, options, access,
    // security, out, disposition out) and RegCreateKey(key, subkey, out).
    auto create = [&p, reg, path_of, under, open_key, text](stub_call& c, std::uint32_t out,
                                                            std::uint32_t disposition) {
      const std::string parent = path_of(c.arg(0));
      if (parent.empty())
        return c.result(error_invalid_handle);
      const std::string path = under(parent, text(c.arg(1)));
      const bool created = reg->keys.count(path) == 0;
      for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
        reg->keys[path.substr(0, at)];
      reg->keys[path];
      p.cpu.write32(out, open_key(path));
      if (disposition != 0)
        p.cpu.write32(disposition,
                      created ? 1 : 2);  // REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY
      c.result(error_success);
    };
    provide("RegCreateKeyEx" + suffix, 36,
            [create](stub_call& c) { create(c, c.arg(7), c.arg(8)); });
    provide("RegCreateKey" + suffix, 12, [create](stub_call& c) { create(c, c.arg(2), 0); });
    // RegQueryValueEx(key, name, reserved, type out, data out, size in and out)
    provide("RegQueryValueEx" + suffix, 24, [&p, reg, path_of, text, wide](stub_call& c) {
      const std::string path = path_of(c.arg(0));
      if (path.empty())
        return c.result(error_invalid_handle);
      const auto& values = reg->keys[path];
      const auto it = values.find(lowered(text(c.arg(1))));
      if (it == values.end())
        return c.result(error_file_not_found);
      const registry_value& value = it->second;
      std::vector<std::uint8_t> bytes = value.bytes;
      if (value.is_text()) {
        bytes.clear();
        for (const char ch : value.text + std::string(1, '\0')) {
          bytes.push_back(static_cast<std::uint8_t>(ch));
          if (wide)
            bytes.push_back(0);
        }
      }
      if (c.arg(3) != 0)
        p.cpu.write32(c.arg(3), value.type);
      if (c.arg(5) == 0)
        return c.result(c.arg(4) == 0 ? error_success : error_invalid_handle);
      const std::uint32_t room = p.cpu.read32(c.arg(5));
      p.cpu.write32(c.arg(5), static_cast<std::uint32_t>(bytes.size()));
      if (c.arg(4) == 0)
        return c.result(error_success);
      if (bytes.size() > room)
        return c.result(error_more_data);
      p.cpu.write(c.arg(4), bytes.data(), bytes.size());
      c.result(error_success);
    });
    // RegSetValueEx(key, name, reserved, type, data, size)
    provide("RegSetValueEx" + suffix, 24, [&p, reg, path_of, text, wide](stub_call& c) {
      const std::string path = path_of(c.arg(0));
      if (path.empty() || root_name(c.arg(0)) != nullptr)
        return c.result(path.empty() ? error_invalid_handle : error_access_denied);
      registry_value value;
      value.type = c.arg(3);
      value.bytes = p.cpu.read_bytes(c.arg(4), c.arg(5));
      if (value.is_text())
        value.text = text(c.arg(4));
      reg->keys[path][lowered(text(c.arg(1)))] = value;
      c.result(error_success);
    });
    provide("RegDeleteValue" + suffix, 8, [reg, path_of, text](stub_call& c) {
      const std::string path = path_of(c.arg(0));
      if (path.empty())
        return c.result(error_invalid_handle);
      c.result(reg->keys[path].erase(lowered(text(c.arg(1)))) != 0 ? error_success
                                                                   : error_file_not_found);
    });
    // RegDeleteKey(key, subkey): a key without subkeys.
    provide("RegDeleteKey" + suffix, 8, [reg, path_of, under, text](stub_call& c) {
      const std::string parent = path_of(c.arg(0));
      if (parent.empty())
        return c.result(error_invalid_handle);
      const std::string path = under(parent, text(c.arg(1)));
      const auto it = reg->keys.find(path);
      if (it == reg->keys.end() || path == parent)
        return c.result(error_file_not_found);
      const auto next = std::next(it);
      if (next != reg->keys.end() && next->first.rfind(path + "\\", 0) == 0)
        return c.result(error_access_denied);
      reg->keys.erase(it);
      c.result(error_success);
    });
    // GetUserName(buffer, size in and out): the size with the NUL.
    provide("GetUserName" + suffix, 8, [&p, wide](stub_call& c) {
      const std::string name = host_environment().at("USERNAME");
      const std::uint32_t room = p.cpu.read32(c.arg(1));
      p.cpu.write32(c.arg(1), static_cast<std::uint32_t>(name.size() + 1));
      if (!write_text(p.cpu, c.arg(0), room, name, wide)) {
        p.set_last_error(windows_error::insufficient_buffer);
        return c.result(0);
      }
      c.result(1);
    });
  }
  provide("RegCloseKey", 4, [&p](stub_call& c) {
    if (root_name(c.arg(0)) != nullptr)
      return c.result(error_success);
    const auto object = p.object_of(c.arg(0));
    if (object == nullptr || object->kind != "registry key") {
      p.breach("RegCloseKey of a key not open");
      return c.result(error_invalid_handle);
    }
    p.close_handle(c.arg(0));
    c.result(error_success);
  });
}
