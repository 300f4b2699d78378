// The smallest effector plug-in that keeps the host's contract, built by
// the test suite with the mingw cross compiler once as it is and once for
// each fault below (-DFAULT=n), one fault a build: velloq-validate must
// pass the first and fail each other on exactly the check named for it.
// Its hooks, title-less resources and QueryInterface answers differ from
// Velloq's on purpose; its table is the host's (host/effector_interface.hpp).

#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "host/effector_interface.hpp"
#include "host/host_services.hpp"
#include "host/plugin_entry_points.hpp"
#include "host/render_settings.hpp"

#define POPS_FOUR_BYTES_TOO_MANY 1          // exports.calling_convention
#define TWO_SLOT_DESTRUCTOR 2               // component.table
#define LEAKS_THE_OUTPUT_IMAGE 3            // render.owned_references
#define RELEASES_THE_RENDER_JOB 4           // render.borrowed_references
#define THROWS_OUT_OF_THE_END_HOOK 5        // render.hooks
#define CLOBBERS_EBX 6                      // exports.calling_convention
#define LEAVES_64_BIT_PRECISION 7           // render.hooks
#define IMPORTS_GET_TICK_COUNT_64 8         // file.imports
#define WRITES_PAST_THE_RIGHT_EDGE 9        // render.picture_bounds
#define NEVER_NOTIFIES 10                   // render.notify_image_changed
#define SHOWS_A_MESSAGE_BOX 11              // render.hooks
#define EXITS_WHEN_MEMORY_RUNS_OUT 12       // faults.create_interface
#define WAITS_FOREVER_ON_AN_EVENT 13        // render.hooks
#define LEAVES_THE_DIRECTION_FLAG_SET 14    // exports.calling_convention
#define LEAVES_A_VALUE_ON_THE_X87_STACK 15  // table.operations
#define LEAVES_FLUSH_TO_ZERO_ON 16          // render.hooks
#define TABLE_ENDS_EARLY 17                 // table.layout
#define AN_ENTRY_POPS_TOO_MUCH 18           // table.operations
#define ANOTHER_UUID_IN_THE_TABLE 19        // table.plugin_uuid
#define ITS_UUID_FOR_ANY_ID 20              // exports.foreign_ids
#define KEEPS_A_BORROWED_REFERENCE 21       // render.borrowed_references
#define USES_THE_IMAGE_AFTER_RELEASE 22     // render.after_release
#define NOTIFIES_BEFORE_CHANGING 23         // render.notify_image_changed
#define LOOPS_FOREVER 24                    // render.hooks
#define LOOPS_ON_LARGE_PICTURES 25          // render.hooks
#ifndef FAULT
#define FAULT 0
#endif

#if FAULT == IMPORTS_GET_TICK_COUNT_64
extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();
#endif

namespace {

constexpr std::uint8_t iunknown_id[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr Uuid own_uuid{{0x6D696E69, 0x6D616C20, 0x706C7567, 0x2D696E21}};

#if FAULT == TABLE_ENDS_EARLY || FAULT == AN_ENTRY_POPS_TOO_MUCH
// A table of the plug-in's own making, copied from the compiler's: one that
// ends at slot 300, or whose effector operation 5 (slot 209, one argument)
// pops two.
void VELLOQ_THISCALL pops_two_words(void*, std::int32_t, std::int32_t) {}
void* own_table[component_table_slots];
void use_own_table(void* object) {
  void** const compiled = *static_cast<void***>(object);
  std::memcpy(own_table, compiled, sizeof own_table);
#if FAULT == TABLE_ENDS_EARLY
  std::memset(own_table + 300, 0, sizeof own_table - 300 * sizeof(void*));
#else
  own_table[209] = reinterpret_cast<void*>(&pops_two_words);
#endif
  *static_cast<void***>(object) = own_table;
}
#endif

class component final : public effector_interface {
 public:
  HRESULT VELLOQ_STDCALL QueryInterface(REFIID id, void** out) override {
    if (std::memcmp(&id, iunknown_id, 16) == 0 ||
        std::memcmp(&id, effector_interface_id, 16) == 0) {
      AddRef();
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
#if FAULT == TWO_SLOT_DESTRUCTOR
  // GCC's two destructor slots where the host has its one: slot 3 destroys
  // without freeing, slot 4 (the validity query's place) destroys and frees.
  void* VELLOQ_THISCALL delete_this(unsigned) override {
    release_mark();
    return this;
  }
  bool VELLOQ_THISCALL is_valid_interface() override {
    release_mark();
    ::operator delete(this);
    return true;
  }
#else
  void* VELLOQ_THISCALL delete_this(unsigned flags) override {
    release_mark();
    if ((flags & 1) != 0)
      ::operator delete(this);
    return this;
  }
#endif
  Uuid* VELLOQ_THISCALL get_plugin_uuid(Uuid* result, std::int32_t) override {
#if FAULT == ANOTHER_UUID_IN_THE_TABLE
    *result = Uuid{{ own_uuid.words[3], own_uuid.words[2], own_uuid.words[1], own_uuid.words[0] }};
#else
    *result = own_uuid;
#endif
    return result;
  }
#if FAULT == LEAVES_A_VALUE_ON_THE_X87_STACK
  // Operation 40 (slot 44) answers 0 and leaves 1.0 on the register stack.
  std::int32_t VELLOQ_THISCALL plugin_op_40(std::int32_t) override {
    __asm__ volatile("fld1");
    return 0;
  }
#endif

  // Slot 205.
  void VELLOQ_THISCALL begin_render(RenderJob* render, HostApplication* application,
                                    std::int32_t) override {
    job = render;
#if FAULT == KEEPS_A_BORROWED_REFERENCE
    job->AddRef();
#endif
    HostServices* services = application->get_services(0);
    release_mark();
    mark = services->load_image_resource("mark");
#if FAULT == IMPORTS_GET_TICK_COUNT_64
    started = static_cast<DWORD>(GetTickCount64());
#else
    started = GetTickCount();
#endif
#if FAULT == LEAVES_FLUSH_TO_ZERO_ON
    unsigned control = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(control));
    control |= 0x8000;
    __asm__ volatile("ldmxcsr %0" : : "m"(control));
#endif
  }
  // Slot 207: a dot in the top-left corner, its colour inverted.
  void VELLOQ_THISCALL end_render(std::int32_t) override {
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
#if FAULT == LOOPS_FOREVER
    // Waits for the host to give up on the job, which it never does.
    while (!job->is_aborted(0)) {
    }
#endif
  }

 private:
  ~component() = default;

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
#if FAULT == LOOPS_ON_LARGE_PICTURES
      // Reads every pixel with a 16-bit counter: past 65535 pixels it
      // wraps before reaching the end, and never stops.
      const std::int64_t pixels = std::int64_t{size.width} * size.height;
      for (std::uint16_t i = 0; i < pixels; ++i) {
        Bgra8 seen{0, 0, 0, 0};
        image->get_pixel(i % size.width, i / size.width, &seen, 0);
      }
#endif
      // A row of the picture, the one allocation of the hook.
      std::vector<Bgra8> row(static_cast<std::size_t>(size.width > 2 ? 2 : size.width));
#if FAULT == WRITES_PAST_THE_RIGHT_EDGE
      const int last = size.width;
#else
      const int last = static_cast<int>(row.size()) - 1;
#endif
#if FAULT == NOTIFIES_BEFORE_CHANGING
      RenderSettings* early =
          application != nullptr ? application->get_render_settings(0) : nullptr;
      if (early != nullptr) {
        early->notify_image_changed(0);
        early->Release();
      }
#endif
      for (int x = 0; x <= last && size.height > 0; ++x) {
        Bgra8 pixel{0, 0, 0, 0};
        image->get_pixel(x, 0, &pixel, 0);
        pixel =
            Bgra8{static_cast<std::uint8_t>(~pixel.blue), static_cast<std::uint8_t>(~pixel.green),
                  static_cast<std::uint8_t>(~pixel.red), 255};
        image->set_pixel(x, 0, &pixel, 0);
      }
#if FAULT != NOTIFIES_BEFORE_CHANGING
      RenderSettings* settings =
          application != nullptr ? application->get_render_settings(0) : nullptr;
      if (settings != nullptr) {
#if FAULT != NEVER_NOTIFIES
        settings->notify_image_changed(0);
#endif
        settings->Release();
      }
#endif
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
#if FAULT == USES_THE_IMAGE_AFTER_RELEASE
    // Reads the size again from an image it no longer holds.
    ImageSize again{0, 0};
    image->get_size(&again, 0);
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
#if FAULT == ITS_UUID_FOR_ANY_ID
  const bool ours = id != nullptr;
#else
  const bool ours = std::memcmp(id, effector_interface_id, 16) == 0;
#endif
  *result = ours ? own_uuid : Uuid{{0, 0, 0, 0}};
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
#if FAULT == LEAVES_THE_DIRECTION_FLAG_SET
  __asm__ volatile("std");
#endif
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
#if FAULT == TABLE_ENDS_EARLY || FAULT == AN_ENTRY_POPS_TOO_MUCH
    use_own_table(created);
#endif
    *out = created;
    return static_cast<std::int32_t>(created->AddRef());
  } catch (...) {
    return 0;
  }
#endif
}
}
