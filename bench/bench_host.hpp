#pragma once
// A minimal in-memory host for the benchmarks: one render's objects over
// the reference host's memory_image, with the shipped atlas as the image
// resource. Each object can log its calls into a call_log, which the floor
// check uses to prove that two runs made the same host calls; without a log
// an object does nothing but answer.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_services.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"
#include "plugin/identity.hpp"
#include "refhost/files/file_io.hpp"
#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "host_kit/host_object_base.hpp"
#include "refhost/pictures/tga_codec.hpp"

// Every host call as one value folded into a hash, and a count. Two runs
// that fold the same calls in the same order give the same hash.
struct call_log {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  std::uint64_t calls = 0;

  void add(std::uint32_t object, std::uint32_t operation, std::int32_t x = 0, std::int32_t y = 0) {
    ++calls;
    for (std::uint64_t word :
         {std::uint64_t{object} << 8 | operation, std::uint64_t{static_cast<std::uint32_t>(x)},
          std::uint64_t{static_cast<std::uint32_t>(y)}}) {
      hash = (hash ^ word) * 1099511628211ull;
    }
  }
};

// What the bench host answers where it matters for the hook's host calls.
inline constexpr std::int32_t bench_host_version = 440500;
inline constexpr std::int32_t bench_gi_method = 1;  // path tracing: asks for the caching state

namespace bench_op {
enum : std::uint32_t {
  add_ref = 1,
  release,
  get_size,
  get_pixel,
  set_pixel,
  is_aborted,
  get_output_image,
  get_application,
  get_version,
  get_services,
  get_render_settings,
  get_localized_string,
  load_image_resource,
  get_version_text,
  get_renderer_uuid,
  get_gi_method,
  get_irradiance_caching,
  get_setup_time,
  get_rendering_time,
  notify_image_changed,
};
}  // namespace bench_op

template <class T>
struct bench_releaser {
  void operator()(T* object) const {
    if (object != nullptr)
      object->Release();
  }
};
// The host's own reference to one of its objects.
template <class T>
using bench_ref = std::unique_ptr<T, bench_releaser<T>>;

// Reference counting that logs the plug-in's AddRef and Release calls.
template <class Interface>
class logged_object : public ref_counted<Interface> {
 public:
  std::uint32_t VELLOQ_THISCALL AddRef() override {
    note(bench_op::add_ref);
    return ref_counted<Interface>::AddRef();
  }
  std::uint32_t VELLOQ_THISCALL Release() override {
    note(bench_op::release);
    return ref_counted<Interface>::Release();
  }

  call_log* log = nullptr;
  std::uint32_t id = 0;

 protected:
  void note(std::uint32_t operation, std::int32_t x = 0, std::int32_t y = 0) {
    if (log != nullptr)
      log->add(id, operation, x, y);
  }
};

// A picture that logs every call and passes it on to the picture it wraps.
// Used only for the floor check; timed runs call memory_image directly.
class logged_image final : public logged_object<HostImage> {
 public:
  logged_image(HostImage* inner, call_log* call_log, std::uint32_t object_id) : inner_(inner) {
    inner_->AddRef();
    log = call_log;
    id = object_id;
  }
  ~logged_image() override { inner_->Release(); }

  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t) override {
    note(bench_op::get_size);
    inner_->get_size(size, 0);
  }
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t) override {
    note(bench_op::get_pixel, x, y);
    inner_->get_pixel(x, y, pixel, 0);
  }
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t) override {
    note(bench_op::set_pixel, x, y);
    inner_->set_pixel(x, y, pixel, 0);
  }

 private:
  HostImage* inner_;
};

// The shipped atlas's file, read once; every load decodes it afresh, as the
// reference host decodes its module's resource.
inline const std::vector<unsigned char>& shipped_atlas_file() {
  static const std::vector<unsigned char> bytes =
      read_file_bytes(VELLOQ_SOURCE_DIR "/resources/ascii.tga", max_picture_file_bytes);
  return bytes;
}

class bench_services final : public logged_object<HostServices> {
 public:
  const char* VELLOQ_THISCALL get_localized_string(const char*) override {
    note(bench_op::get_localized_string);
    return "";
  }
  HostImage* VELLOQ_THISCALL load_image_resource(const char*) override {
    note(bench_op::load_image_resource);
    const std::vector<unsigned char>& file = shipped_atlas_file();
    host_image_ptr atlas = decode_tga(file.data(), file.size());
    if (atlas_log == nullptr)
      return atlas.release();
    // The wrapper takes its own reference; the decoded one goes back.
    return new logged_image(atlas.get(), atlas_log, atlas_id);
  }
  const char* VELLOQ_THISCALL get_version_text() override {
    note(bench_op::get_version_text);
    return "Vorlen 12.0.0 build 440500";
  }

  // Set for the floor check: loaded atlases then log their calls.
  call_log* atlas_log = nullptr;
  std::uint32_t atlas_id = 0;
};

class bench_settings final : public logged_object<RenderSettings> {
 public:
  Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t) override {
    note(bench_op::get_renderer_uuid);
    *result = identity().path_tracing;
    return result;
  }
  std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t) override {
    note(bench_op::get_gi_method);
    return bench_gi_method;
  }
  bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t) override {
    note(bench_op::get_irradiance_caching);
    return true;
  }
  std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t) override {
    note(bench_op::get_setup_time);
    return 1250;
  }
  std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t) override {
    note(bench_op::get_rendering_time);
    return 63410;
  }
  void VELLOQ_THISCALL notify_image_changed(std::int32_t) override {
    note(bench_op::notify_image_changed);
  }
};

class bench_application final : public logged_object<HostApplication> {
 public:
  explicit bench_application(bench_services& services, bench_settings& settings)
      : services_(services), settings_(settings) {}
  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override {
    note(bench_op::get_version);
    return bench_host_version;
  }
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override {
    note(bench_op::get_services);
    return &services_;
  }
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override {
    note(bench_op::get_render_settings);
    settings_.AddRef();
    return &settings_;
  }

 private:
  bench_services& services_;
  bench_settings& settings_;
};

class bench_job final : public logged_object<RenderJob> {
 public:
  bench_job(HostImage& image, bench_application& application)
      : image_(image), application_(application) {}
  bool VELLOQ_THISCALL is_aborted(std::int32_t) override {
    note(bench_op::is_aborted);
    return false;
  }
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override {
    note(bench_op::get_output_image);
    image_.AddRef();
    return &image_;
  }
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override {
    note(bench_op::get_application);
    application_.AddRef();
    return &application_;
  }

 private:
  HostImage& image_;
  bench_application& application_;
};

// A rendered-looking picture: a colour ramp, dark at the bottom left, with
// alpha 0 as a renderer leaves its background.
inline host_image_ptr make_render_picture(std::int32_t width, std::int32_t height) {
  host_image_ptr picture = make_host_image(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      picture->at(x, y) = Bgra8{static_cast<std::uint8_t>(255 * x / width),
                                static_cast<std::uint8_t>(255 * (height - 1 - y) / height),
                                static_cast<std::uint8_t>(96), 0};
    }
  }
  return picture;
}

// One render's objects. The output picture is the given one, or a wrapper
// that logs its calls when `log` is set.
struct bench_host {
  explicit bench_host(HostImage* output, call_log* log = nullptr) {
    if (log != nullptr) {
      logged_output.reset(new logged_image(output, log, 1));
      output = logged_output.get();
      services->log = log;
      services->id = 2;
      services->atlas_log = log;
      services->atlas_id = 3;
      settings->log = log;
      settings->id = 4;
    }
    application.reset(new bench_application(*services, *settings));
    job.reset(new bench_job(*output, *application));
    if (log != nullptr) {
      application->log = log;
      application->id = 5;
      job->log = log;
      job->id = 6;
    }
  }

  bench_ref<logged_image> logged_output;
  bench_ref<bench_services> services{new bench_services()};
  bench_ref<bench_settings> settings{new bench_settings()};
  bench_ref<bench_application> application;
  bench_ref<bench_job> job;
};
