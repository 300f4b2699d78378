#pragma once
// The reference host's own objects, as it hands them to a plug-in. None of
// them throws into the plug-in: an exception could not cross the module
// boundary, so a failure becomes a null answer and a message the host
// prints afterwards.
//
// The plug-in calls them from inside its hooks, so on the worker thread of
// the session they belong to, never on two at once:
// [when: per frame; thread: its worker; re-entrant: no]

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host_application.hpp"
#include "host/render_job.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/memory_image.hpp"
#include "host_kit/host_object_base.hpp"

struct host_releaser {
  template <class T>
  void operator()(T* object) const {
    if (object != nullptr)
      object->Release();
  }
};
template <class T>
using host_ptr = std::unique_ptr<T, host_releaser>;

// What went wrong inside host calls, for the host to report.
using host_problems = std::vector<std::string>;

class reference_services final : public ref_counted<HostServices> {
 public:
  reference_services(const plugin_module& module, std::uint16_t language, std::string version_text,
                     host_problems& problems)
      : module_(module),
        language_(language),
        version_text_(std::move(version_text)),
        problems_(problems) {}

  // The entry from the module's table in the host's language, falling back
  // to US English; an unknown id gives an empty text.
  const char* VELLOQ_THISCALL get_localized_string(const char* id) override;
  // The module's TARGA resource of that name, decoded; null if it is
  // missing or malformed.
  HostImage* VELLOQ_THISCALL load_image_resource(const char* name) override;
  const char* VELLOQ_THISCALL get_version_text() override { return version_text_.c_str(); }

 private:
  const std::map<std::string, std::string>& table_for(std::uint16_t language);

  const plugin_module& module_;
  std::uint16_t language_;
  std::string version_text_;
  host_problems& problems_;
  std::map<std::uint16_t, std::map<std::string, std::string>> tables_;
};

struct render_facts {
  Uuid renderer{{0, 0, 0, 0}};
  std::int32_t gi_method = 0;
  bool irradiance_caching = false;
  std::int32_t setup_time = 0;      // in the unit the host version implies
  std::int32_t rendering_time = 0;  // milliseconds
};

class reference_settings final : public ref_counted<RenderSettings> {
 public:
  explicit reference_settings(render_facts facts) : facts_(facts) {}
  // The times are known only once the picture is done.
  render_facts& facts() { return facts_; }
  Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t) override {
    *result = facts_.renderer;
    return result;
  }
  std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t) override { return facts_.gi_method; }
  bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t) override {
    return facts_.irradiance_caching;
  }
  std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t) override { return facts_.setup_time; }
  std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t) override {
    return facts_.rendering_time;
  }
  void VELLOQ_THISCALL notify_image_changed(std::int32_t) override { ++notifications; }

  int notifications = 0;

 private:
  render_facts facts_;
};

class reference_application final : public ref_counted<HostApplication> {
 public:
  reference_application(std::int32_t version, reference_services& services)
      : version_(version), services_(services) {}
  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override { return version_; }
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override { return &services_; }
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override {
    if (!settings_)
      return nullptr;
    settings_->AddRef();
    return settings_.get();
  }
  // The settings of the render in progress; null between renders.
  void set_render_settings(host_ptr<reference_settings> settings) {
    settings_ = std::move(settings);
  }

 private:
  std::int32_t version_;
  reference_services& services_;
  host_ptr<reference_settings> settings_;
};

class reference_job final : public ref_counted<RenderJob> {
 public:
  reference_job(reference_application& application, bool aborted)
      : application_(application), aborted_(aborted) {}
  bool VELLOQ_THISCALL is_aborted(std::int32_t) override { return aborted_; }
  // Null until the picture exists.
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override {
    if (image_ == nullptr)
      return nullptr;
    image_->AddRef();
    return image_;
  }
  void set_output_image(memory_image* image) { image_ = image; }
  // A render that failed before its picture was done ends as an aborted one.
  void set_aborted() { aborted_ = true; }
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override {
    application_.AddRef();
    return &application_;
  }

 private:
  memory_image* image_ = nullptr;
  reference_application& application_;
  bool aborted_;
};
