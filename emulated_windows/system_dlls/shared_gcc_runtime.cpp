#include "emulated_windows/system_dlls/shared_gcc_runtime.hpp"

#include <string>

namespace {
constexpr char runtime_dll[] = "libgcc_s_dw2-1.dll";
}  // namespace

std::shared_ptr<shared_gcc_runtime> load_shared_gcc_runtime(windows_process& process) {
  auto runtime = std::make_shared<shared_gcc_runtime>();
  // __register_frame_info(begin, object), cdecl.
  process.provide(runtime_dll, "__register_frame_info", 0, [runtime](stub_call& c) {
    runtime->registered_frames[c.arg(0)] = c.arg(1);
    ++runtime->registrations;
  });
  // __deregister_frame_info(begin): the record, and libgcc's assertion
  // (an abort) for tables it never received.
  process.provide(runtime_dll, "__deregister_frame_info", 0, [runtime](stub_call& c) {
    const auto it = runtime->registered_frames.find(c.arg(0));
    if (it == runtime->registered_frames.end()) {
      c.cpu.stop_call(
          "calls __deregister_frame_info of tables never registered, whose assertion (abort()) "
          "ends "
          "the host's process");
      return;
    }
    c.result(it->second);
    runtime->registered_frames.erase(it);
  });
  runtime->handle = process.load_native_module(runtime_dll);
  return runtime;
}
