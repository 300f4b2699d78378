// The smallest effector plug-in that keeps the host's contract, built by
// the test suite with the mingw cross compiler once as it is and once for
// each fault below (-DFAULT=n), one fault a build: velloq-validate must
// pass the first and fail each other on exactly the check named for it.
// Its own table, title-less resources and QueryInterface answers differ
// from Velloq's on purpose.

#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_services.hpp"
#include "host/plugin_entry_points.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"

#define POPS_FOUR_BYTES_TOO_MANY 1     // exports.calling_convention
#define TWO_SLOT_DESTRUCTOR 2          // component.table
#define LEAKS_THE_OUTPUT_IMAGE 3       // render.owned_references
#define RELEASES_THE_RENDER_JOB 4      // render.borrowed_references
#define THROWS_OUT_OF_THE_END_HOOK 5   // render.hooks
#define CLOBBERS_EBX 6                 // exports.calling_convention
#define LEAVES_64_BIT_PRECISION 7      // render.hooks
#define IMPORTS_GET_TICK_COUNT_64 8    // file.imports
#define WRITES_PAST_THE_RIGHT_EDGE 9   // render.picture_bounds
#define NEVER_NOTIFIES 10              // render.notify_image_changed
#define SHOWS_A_MESSAGE_BOX 11         // render.hooks
#define EXITS_WHEN_MEMORY_RUNS_OUT 12  // faults.create_interface
#define WAITS_FOREVER_ON_AN_EVENT 13   // render.hooks
#ifndef FAULT
#define FAULT 0
#endif

#define THISCALL __attribute__((thiscall))
#define CAT_(a, b) a##b
#define CAT(a, b) CAT_(a, b)
// A table entry the validator never calls.
#define UNUSED_ENTRY                                  \
  virtual void THISCALL CAT(unused_, __COUNTER__)() { \
    __builtin_trap();                                 \
  }
#define UNUSED_10                                                                            \
  UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY \
      UNUSED_ENTRY UNUSED_ENTRY UNUSED_ENTRY
#define UNUSED_100                                                                          \
  UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 UNUSED_10 \
      UNUSED_10

#if FAULT == IMPORTS_GET_TICK_COUNT_64
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();
#endif

namespace {

constexpr std::uint8_t iunknown_id[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

class component {
 public:
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(const void* id, void** out) {
    if (std::memcmp(id, iunknown_id, 16) == 0 || std::memcmp(id, effector_interface_id, 16) == 0) {
      AddRef();
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  virtual ULONG STDMETHODCALLTYPE AddRef() { return ++references; }
  virtual ULONG STDMETHODCALLTYPE Release() {
    if (--references != 0)
      return references;
    delete_this(1);
    return 0;
  }
#if FAULT == TWO_SLOT_DESTRUCTOR
  virtual ~component() {
    release_mark();
  }
  void delete_this(unsigned) {
    delete this;
  }
#else
  virtual void* THISCALL delete_this(unsigned flags) {
    release_mark();
    if ((flags & 1) != 0)
      ::operator delete(this);
    return this;
  }
#endif
  virtual bool THISCALL is_valid() {
    return true;
  }
  UNUSED_100 UNUSED_100  // the 120 plug-in operations and 80 reserved entries

      // Slot 205.
      virtual void THISCALL
      begin_render(RenderJob* render, HostApplication* application, int) {
    job = render;
    HostServices* services = application->get_services(0);
    release_mark();
    mark = services->load_image_resource("mark");
#if FAULT == IMPORTS_GET_TICK_COUNT_64
    started = static_cast<DWORD>(GetTickCount64());
#else
    started = GetTickCount();
#endif
  }
  virtual void THISCALL unused_op_2(int, int) {}
  // Slot 207: a dot in the top-left corner, its colour inverted.
  virtual void THISCALL end_render(int) {
#if FAULT == THROWS_OUT_OF_THE_END_HOOK
    stamp();
#else
    try {
      stamp();
    } catch (...) {
    }
#endif
#if FAULT == LEAVES_64_BIT_PRECISION
    const unsigned short extended = 0x037F;
    __asm__ volatile("fldcw %0" : : "m"(extended));
#endif
#if FAULT == SHOWS_A_MESSAGE_BOX
    MessageBoxA(nullptr, "Rendered", "Minimal", MB_OK);
#endif
#if FAULT == WAITS_FOREVER_ON_AN_EVENT
    // Nothing sets it: the work it waits for was never handed out.
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(done, INFINITE);
    CloseHandle(done);
#endif
  }

  int references = 0;

 private:
  void release_mark() {
    if (mark != nullptr)
      mark->Release();
    mark = nullptr;
  }
  void stamp() {
#if FAULT == THROWS_OUT_OF_THE_END_HOOK
    throw std::bad_alloc();
#endif
    if (job == nullptr || job->is_aborted(0))
      return;
    HostImage* image = job->get_output_image(0);
    if (image == nullptr)
      return;
    HostApplication* application = job->get_application(0);
    try {
      ImageSize size{0, 0};
      image->get_size(&size, 0);
      // A row of the picture, the one allocation of the hook.
      std::vector<Bgra8> row(static_cast<std::size_t>(size.width > 2 ? 2 : size.width));
#if FAULT == WRITES_PAST_THE_RIGHT_EDGE
      const int last = size.width;
#else
      const int last = static_cast<int>(row.size()) - 1;
#endif
      for (int x = 0; x <= last && size.height > 0; ++x) {
        Bgra8 pixel{0, 0, 0, 0};
        image->get_pixel(x, 0, &pixel, 0);
        pixel =
            Bgra8{static_cast<std::uint8_t>(~pixel.blue), static_cast<std::uint8_t>(~pixel.green),
                  static_cast<std::uint8_t>(~pixel.red), 255};
        image->set_pixel(x, 0, &pixel, 0);
      }
      RenderSettings* settings =
          application != nullptr ? application->get_render_settings(0) : nullptr;
      if (settings != nullptr) {
#if FAULT != NEVER_NOTIFIES
        settings->notify_image_changed(0);
#endif
        settings->Release();
      }
    } catch (...) {
      if (application != nullptr)
        application->Release();
      image->Release();
      throw;
    }
#if FAULT == RELEASES_THE_RENDER_JOB
    job->Release();
#endif
    if (application != nullptr)
      application->Release();
#if FAULT != LEAKS_THE_OUTPUT_IMAGE
    image->Release();
#endif
  }

  RenderJob* job = nullptr;
  HostImage* mark = nullptr;
  DWORD started = 0;
};

}  // namespace

extern "C" {

std::int32_t __stdcall has_interface(const void* id, HostApplication* application) {
  return application->get_version(0) >= 430000 && std::memcmp(id, effector_interface_id, 16) == 0;
}

const char* __stdcall get_name(const void* id, std::int32_t, HostApplication* application,
                               std::int32_t) {
  if (std::memcmp(id, effector_interface_id, 16) != 0)
    return nullptr;
  return application->get_services(0)->get_localized_string("plugin_title");
}

std::int32_t __stdcall get_interface_version(std::int32_t
#if FAULT == POPS_FOUR_BYTES_TOO_MANY
                                             ,
                                             std::int32_t
#endif
) {
  return 25;
}

Uuid* __stdcall get_uuid(Uuid* result, const void* id, std::int32_t, std::int32_t) {
  const bool ours = std::memcmp(id, effector_interface_id, 16) == 0;
  *result = ours ? Uuid{{0x6D696E69, 0x6D616C20, 0x706C7567, 0x2D696E21}} : Uuid{{0, 0, 0, 0}};
  return result;
}

std::int32_t __stdcall is_resident(std::int32_t, std::int32_t, std::int32_t) {
  return 0;
}

PluginInfo* __stdcall get_info(PluginInfo* result, std::int32_t, std::int32_t) {
#if FAULT == CLOBBERS_EBX
  __asm__ volatile("movl $0, %%ebx" : : :);
#endif
  *result = PluginInfo{430000, 430000, 1, 2, 0, 1};
  return result;
}

std::int32_t __stdcall has_separate_interfaces(std::int32_t) {
  return 0;
}

std::int32_t __stdcall create_interface(std::int32_t, std::int32_t, void** out, std::int32_t,
                                        std::int32_t) {
#if FAULT == EXITS_WHEN_MEMORY_RUNS_OUT
  auto* created = new (std::nothrow) component();
  if (created == nullptr)
    ExitProcess(3);
  *out = created;
  return static_cast<std::int32_t>(created->AddRef());
#else
  try {
    auto* created = new component();
    *out = created;
    return static_cast<std::int32_t>(created->AddRef());
  } catch (...) {
    return 0;
  }
#endif
}
}
