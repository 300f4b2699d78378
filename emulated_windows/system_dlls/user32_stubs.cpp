// USER32.dll as the module uses it: the display devices.

#include <cstring>

#include "emulated_windows/process/windows_process.hpp"

void provide_user32(windows_process& process) {
  windows_process& p = process;
  // EnumDisplayDevicesA(device, index, DISPLAY_DEVICEA*, flags): adapters
  // by index until the list runs out.
  p.provide("USER32.dll", "EnumDisplayDevicesA", 16, [&p](stub_call& c) {
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
