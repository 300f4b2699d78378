#pragma once
// An in-process host for tests. Its objects record every call in order in a
// shared ledger, count references, and can be told to throw at the k-th
// host call or to answer null from the k-th call that returns an object.
// Pixel calls are counted always and listed only when asked for, since a
// render makes hundreds of thousands of them.

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_services.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"

struct injected_fault : std::runtime_error {
  injected_fault() : std::runtime_error("injected host fault") {}
};

// Calls per name. Tests clear it between renders; the objects' cached
// places in it are then looked up again.
class call_counts : public std::map<std::string, std::int64_t> {
 public:
  void clear() {
    std::map<std::string, std::int64_t>::clear();
    ++generation;
  }
  std::uint64_t generation = 0;
};

class call_ledger {
 public:
  // Records a call whose count lives at `count`; throws injected_fault when
  // it is the chosen one.
  void record(const std::string& call, std::int64_t& count, bool is_pixel_call = false);
  // Whether this object-returning call is the one chosen to answer null.
  bool next_object_is_null();

  std::vector<std::string> calls;  // in order; pixel calls only if list_pixel_calls
  call_counts counts;
  bool list_pixel_calls = false;
  std::int64_t throw_at = 0;  // 1-based index among counted calls; 0: never
  std::int64_t null_at = 0;   // 1-based index among object-returning calls; 0: never
  std::int64_t counted_calls = 0;
  std::int64_t object_calls = 0;
  std::vector<std::string> errors;  // contract breaches seen by the host

  std::int64_t count(const std::string& call) const;
  // The ledger without pixel calls, to compare call orders.
  std::vector<std::string> without(const std::string& prefix) const;
};

// Reference counting shared by the test objects: the host holds one
// reference of its own for the object's whole life, so a plug-in release
// that would drop the count to zero is a contract breach.
template <class Interface>
class ledger_object : public Interface {
 public:
  ledger_object(call_ledger& ledger, std::string name) : ledger_(ledger), name_(std::move(name)) {}
  virtual ~ledger_object() = default;

  std::uint32_t VELLOQ_THISCALL AddRef() override {
    ++add_refs;
    return ++references;
  }
  std::uint32_t VELLOQ_THISCALL Release() override {
    ++releases;
    // Listed for the order of releases, never chosen for a fault: a release
    // is how the plug-in cleans up after one.
    ledger_.calls.push_back(name_ + ".Release");
    if (references <= 1) {
      ledger_.errors.push_back(name_ + " released more often than referenced");
      return references;
    }
    return --references;
  }
  // Hands out one owned reference, as the host does for an owned result.
  Interface* hand_out() {
    AddRef();
    return this;
  }
  // References the plug-in still holds.
  std::uint32_t held_by_plugin() const { return references - 1; }

  std::uint32_t references = 1;
  std::int64_t add_refs = 0;
  std::int64_t releases = 0;

 protected:
  // `call` is one of the objects' own literals, so its address names it.
  void record(const char* call, bool is_pixel_call = false) {
    cached_call* cached = nullptr;
    for (cached_call& entry : cached_)
      if (entry.call == call)
        cached = &entry;
    if (cached == nullptr)
      cached = &cached_.emplace_back(cached_call{call, name_ + "." + call});
    if (cached->generation != ledger_.counts.generation || cached->count == nullptr) {
      cached->count = &ledger_.counts[cached->full_name];
      cached->generation = ledger_.counts.generation;
    }
    ledger_.record(cached->full_name, *cached->count, is_pixel_call);
  }
  call_ledger& ledger_;
  std::string name_;

 private:
  // Each operation's full name and its place in the counts, found once: a
  // render makes millions of pixel calls, and building and looking up their
  // names each time was most of the time of the tests that fault every call.
  struct cached_call {
    const char* call;
    std::string full_name;
    std::int64_t* count = nullptr;
    std::uint64_t generation = 0;
  };
  std::vector<cached_call> cached_;
};

class test_image final : public ledger_object<HostImage> {
 public:
  test_image(call_ledger& ledger, std::string name, std::int32_t width, std::int32_t height,
             Bgra8 fill = {0, 0, 0, 0});

  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t reserved) override;
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t reserved) override;
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t reserved) override;

  Bgra8& at(std::int32_t x, std::int32_t y);
  bool inside(std::int32_t x, std::int32_t y) const;

  // The size the image answers; it stores pixels only when that size is
  // small enough, and counts every access outside it.
  ImageSize answered_size;
  std::vector<Bgra8> pixels;
  std::int64_t outside_accesses = 0;
  std::int64_t reserved_not_zero = 0;

 private:
  // Records a pixel call; the stored pixel, or null outside or when no
  // pixels are stored.
  Bgra8* access(const char* call, std::int32_t x, std::int32_t y, std::int32_t reserved);
};

class test_settings final : public ledger_object<RenderSettings> {
 public:
  explicit test_settings(call_ledger& ledger) : ledger_object(ledger, "settings") {}
  Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t) override;
  bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t) override;
  void VELLOQ_THISCALL notify_image_changed(std::int32_t) override;

  Uuid renderer{{0, 0, 0, 0}};
  std::int32_t gi_method = 0;
  bool irradiance_caching = false;
  std::int32_t setup_time = 0;
  std::int32_t rendering_time = 0;
  std::int64_t notifications = 0;
};

class test_services final : public ledger_object<HostServices> {
 public:
  explicit test_services(call_ledger& ledger) : ledger_object(ledger, "services") {}
  const char* VELLOQ_THISCALL get_localized_string(const char* id) override;
  HostImage* VELLOQ_THISCALL load_image_resource(const char* name) override;
  const char* VELLOQ_THISCALL get_version_text() override;

  std::map<std::string, std::string> strings;
  std::string version_text = "Vorlen 12.0.0 build 440500";
  bool version_text_is_null = false;
  // Each load makes a new atlas image from this template.
  std::int32_t atlas_width = 128;
  std::int32_t atlas_height = 72;
  std::vector<Bgra8> atlas_pixels;  // empty: a transparent atlas
  std::vector<std::unique_ptr<test_image>> loaded_atlases;
  std::vector<std::string> requested_names;
};

class test_application final : public ledger_object<HostApplication> {
 public:
  test_application(call_ledger& ledger, test_services& services, test_settings& settings)
      : ledger_object(ledger, "application"), services_(services), settings_(settings) {}
  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override;
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override;
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override;

  std::int32_t version = 440500;

 private:
  test_services& services_;
  test_settings& settings_;
};

class test_job final : public ledger_object<RenderJob> {
 public:
  test_job(call_ledger& ledger, test_image& image, test_application& application)
      : ledger_object(ledger, "job"), image_(image), application_(application) {}
  bool VELLOQ_THISCALL is_aborted(std::int32_t) override;
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override;
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override;

  bool aborted = false;

 private:
  test_image& image_;
  test_application& application_;
};

// A whole host: one render's objects wired together.
struct test_host {
  explicit test_host(std::int32_t width = 64, std::int32_t height = 48, Bgra8 fill = {0, 0, 0, 0});

  call_ledger ledger;
  test_settings settings{ledger};
  test_services services{ledger};
  test_application application{ledger, services, settings};
  test_image image;
  test_job job{ledger, image, application};

  // Describes every reference the plug-in still holds or released too often;
  // empty when every owned reference went back exactly once.
  std::vector<std::string> reference_problems(bool atlas_may_be_held = true) const;
  // Uses the shipped atlas for every load.
  void use_shipped_atlas();
};

// The shipped atlas as upright pixels (128 x 72), read from resources/.
const std::vector<Bgra8>& shipped_atlas_pixels();
