// An effector plug-in written from the host's contract alone, as a careful
// author would write one: its component derives from the host's interface
// chain (host/), so every table entry answers as the host defines it; its
// hooks use what ordinary Windows code uses (the performance counter, the
// process heap, GetTickCount waiting for its next tick, an event); and it
// never lets an exception start, since a module with mingw's static
// runtime cannot throw safely beside another module's shared one.
//
// The test suite builds it with both mingw thread models, plainly and with
// Velloq's two workaround files; velloq-validate must fail none of them.
// -DRESIDENT=1 makes is_resident answer true; -DUSES_TICK_COUNT_64=1 makes
// it read GetTickCount64, which Windows XP lacks; -DWRITES_A_LOG=1 makes the
// end hook append a line to a log file in the temporary folder.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/effector_interface.hpp"
#include "host/host_services.hpp"
#include "host/plugin_entry_points.hpp"
#include "host/render_settings.hpp"

#ifndef RESIDENT
#define RESIDENT 0
#endif
#ifndef USES_TICK_COUNT_64
#define USES_TICK_COUNT_64 0
#endif
#ifndef WRITES_A_LOG
#define WRITES_A_LOG 0
#endif

#if USES_TICK_COUNT_64
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();
#endif

namespace {

class correct_component final : public effector_interface {
 public:
  void* VELLOQ_THISCALL delete_this(unsigned flags) override {
    this->~correct_component();
    if ((flags & 1) != 0)
      std::free(this);
    return this;
  }

  Uuid* VELLOQ_THISCALL get_plugin_uuid(Uuid* result, std::int32_t) override;

  void VELLOQ_THISCALL begin_render(RenderJob* render, HostApplication*, std::int32_t) override {
    job = render;
    LARGE_INTEGER now;
    started = QueryPerformanceCounter(&now) != 0 ? now.QuadPart : 0;
  }

  // Inverts the top row's first pixels through a row buffer on the process
  // heap; the heap failing leaves the picture as it was.
  void VELLOQ_THISCALL end_render(std::int32_t) override {
    if (job == nullptr || job->is_aborted(0))
      return;
    wait_for_next_tick();
    if (!event_round_trip())
      return;
#if WRITES_A_LOG
    log_the_render();
#endif
    HostImage* image = job->get_output_image(0);
    if (image == nullptr)
      return;
    HostApplication* application = job->get_application(0);
    ImageSize size{0, 0};
    image->get_size(&size, 0);
    const int width = size.width < 4 ? size.width : 4;
    auto* row = width > 0 && size.height > 0
                    ? static_cast<Bgra8*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Bgra8) * width))
                    : nullptr;
    if (row != nullptr) {
      for (int x = 0; x < width; ++x) image->get_pixel(x, 0, &row[x], 0);
      for (int x = 0; x < width; ++x) {
        const Bgra8 inverted{static_cast<std::uint8_t>(~row[x].blue),
                             static_cast<std::uint8_t>(~row[x].green),
                             static_cast<std::uint8_t>(~row[x].red), 255};
        image->set_pixel(x, 0, &inverted, 0);
      }
      HeapFree(GetProcessHeap(), 0, row);
      RenderSettings* settings =
          application != nullptr ? application->get_render_settings(0) : nullptr;
      if (settings != nullptr) {
        settings->notify_image_changed(0);
        settings->Release();
      }
    }
    if (application != nullptr)
      application->Release();
    image->Release();
    LARGE_INTEGER now;
    if (QueryPerformanceCounter(&now) != 0)
      elapsed = now.QuadPart - started;
  }

 private:
  ~correct_component() = default;

  // What code timing itself with GetTickCount does: the next tick.
  static void wait_for_next_tick() {
#if USES_TICK_COUNT_64
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() == start) {
    }
#else
    const DWORD start = GetTickCount();
    while (GetTickCount() == start) {
    }
#endif
  }

  // An event set and waited for on one thread, as code handing work to
  // itself does; false when Windows gives no event.
  static bool event_round_trip() {
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (done == nullptr)
      return false;
    SetEvent(done);
    const bool signalled = WaitForSingleObject(done, INFINITE) == WAIT_OBJECT_0;
    // The wait took it (an automatic reset): a second one times out.
    const bool reset = WaitForSingleObject(done, 10) == WAIT_TIMEOUT;
    CloseHandle(done);
    return signalled && reset;
  }

#if WRITES_A_LOG
  // Appends a line to correct_plugin.log; a log that cannot be written is
  // left alone.
  static void log_the_render() {
    char path[MAX_PATH + 32];
    const DWORD length = GetTempPathA(MAX_PATH, path);
    if (length == 0 || length > MAX_PATH)
      return;
    std::strcpy(path + length, "correct_plugin.log");
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
      return;
    const char line[] = "rendered\r\n";
    DWORD written = 0;
    WriteFile(log, line, sizeof line - 1, &written, nullptr);
    CloseHandle(log);
  }
#endif

  RenderJob* job = nullptr;
  LONGLONG started = 0;
  LONGLONG elapsed = 0;
};

constexpr Uuid plugin_uuid{{0x636F7272, 0x6563742D, 0x706C7567, 0x2D696E21}};

Uuid* correct_component::get_plugin_uuid(Uuid* result, std::int32_t) {
  *result = plugin_uuid;
  return result;
}

bool is_effector(const void* id) {
  return std::memcmp(id, effector_interface_id, 16) == 0;
}

}  // namespace

extern "C" {

std::int32_t __stdcall has_interface(const void* id, HostApplication* application) {
  return application != nullptr && application->get_version(0) >= 430000 && is_effector(id);
}

const char* __stdcall get_name(const void* id, std::int32_t, HostApplication* application,
                               std::int32_t) {
  if (!is_effector(id) || application == nullptr)
    return nullptr;
  HostServices* services = application->get_services(0);
  return services != nullptr ? services->get_localized_string("plugin_title") : nullptr;
}

std::int32_t __stdcall get_interface_version(std::int32_t) {
  return 25;
}

Uuid* __stdcall get_uuid(Uuid* result, const void* id, std::int32_t, std::int32_t) {
  *result = is_effector(id) ? plugin_uuid : Uuid{{0, 0, 0, 0}};
  return result;
}

std::int32_t __stdcall is_resident(std::int32_t, std::int32_t, std::int32_t) {
  return RESIDENT;
}

PluginInfo* __stdcall get_info(PluginInfo* result, std::int32_t, std::int32_t) {
  *result = PluginInfo{430000, 430000, 1, 2, 0, 1};
  return result;
}

std::int32_t __stdcall has_separate_interfaces(std::int32_t) {
  return 0;
}

// malloc and placement new: no exception starts when memory runs out.
std::int32_t __stdcall create_interface(std::int32_t, std::int32_t, void** out, std::int32_t,
                                        std::int32_t) {
  void* memory = std::malloc(sizeof(correct_component));
  if (memory == nullptr)
    return 0;
  auto* component = new (memory) correct_component();
  *out = component;
  return static_cast<std::int32_t>(component->AddRef());
}
}
