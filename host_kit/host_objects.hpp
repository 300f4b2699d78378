#pragma once
// The host's other four objects, once for every host: what differs between
// velloq-host, the validator, the tests, the benches and the fuzz targets
// is their policy (host_object_base.hpp) and what they are given: the
// render's facts, the module's resources, the version, the pictures.
//
// The plug-in calls them from inside its hooks, on the thread that drives
// its component, never on two at once:
// [when: per render; thread: render; re-entrant: no]

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host_application.hpp"
#include "host/host_services.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"
#include "host_kit/picture.hpp"

namespace host_kit {

// What the host tells the plug-in about one render.
struct render_facts {
  Uuid renderer{{0, 0, 0, 0}};
  std::int32_t gi_method = 0;
  bool irradiance_caching = false;
  std::int32_t setup_time = 0;      // in the unit the host version implies
  std::int32_t rendering_time = 0;  // milliseconds
};

template <class Policy>
class settings final : public host_object_base<RenderSettings, Policy> {
 public:
  explicit settings(render_facts known = {}) : facts(known) {}

  Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t) override {
    this->note(call::get_renderer_uuid);
    *result = facts.renderer;
    return result;
  }
  std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t) override {
    this->note(call::get_gi_method);
    return facts.gi_method;
  }
  bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t) override {
    this->note(call::get_irradiance_caching);
    return facts.irradiance_caching;
  }
  std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t) override {
    this->note(call::get_setup_time);
    return facts.setup_time;
  }
  std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t) override {
    this->note(call::get_rendering_time);
    return facts.rendering_time;
  }
  void VELLOQ_THISCALL notify_image_changed(std::int32_t) override {
    this->note(call::notify_image_changed);
    ++notifications;
  }

  // The times are known only once the picture is done.
  render_facts facts;
  int notifications = 0;
};

// The module's resources as a host reads them. `text` answers a text that
// stays valid while the resources live ("" or null: none); `image` makes a
// new picture of that name, or none.
template <class Policy>
struct module_resources {
  std::function<const char*(const char* id)> text;
  std::function<std::unique_ptr<picture<Policy>>(const char* name)> image;
};

template <class Policy>
class services final : public host_object_base<HostServices, Policy> {
 public:
  services(module_resources<Policy> resources, std::string version)
      : version_text(std::move(version)), resources_(std::move(resources)) {}

  const char* VELLOQ_THISCALL get_localized_string(const char* id) override {
    this->note(call::get_localized_string);
    const char* text = resources_.text ? resources_.text(id) : nullptr;
    return text != nullptr ? text : "";
  }
  // A host that keeps its objects keeps each loaded picture for its own
  // life; otherwise the plug-in's reference is the picture's only one.
  HostImage* VELLOQ_THISCALL load_image_resource(const char* name) override {
    this->note(call::load_image_resource);
    if (this->answers_null(call::load_image_resource))
      return nullptr;
    std::unique_ptr<picture<Policy>> image = resources_.image ? resources_.image(name) : nullptr;
    if (!image)
      return nullptr;
    if constexpr (Policy::keeps_books) {
      // Named for the ledger unless the resources named it already.
      if (image->books().id == 0 && this->books_ledger() != nullptr)
        image->enlist(*this->books_ledger(), std::string("image resource \"") + name + "\"");
      image->books().role = object_role::owned;
    }
    if constexpr (Policy::life == lifetime::host_kept) {
      loaded.push_back(std::move(image));
      return loaded.back()->hand_out();
    } else {
      return image.release();
    }
  }
  const char* VELLOQ_THISCALL get_version_text() override {
    this->note(call::get_version_text);
    return version_text_is_null ? nullptr : version_text.c_str();
  }

  std::string version_text;
  bool version_text_is_null = false;
  // Kept by a host that keeps its objects, in the order loaded.
  std::vector<std::unique_ptr<picture<Policy>>> loaded;

 private:
  module_resources<Policy> resources_;
};

template <class Policy>
class application final : public host_object_base<HostApplication, Policy> {
 public:
  application(std::int32_t host_version, services<Policy>& offered,
              settings<Policy>* current = nullptr)
      : version(host_version), services_(offered), settings_(current) {}

  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override {
    this->note(call::get_version);
    return version;
  }
  // Borrowed.
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override {
    this->note(call::get_services);
    if (this->answers_null(call::get_services))
      return nullptr;
    return &services_;
  }
  // An owned reference; null between renders.
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override {
    this->note(call::get_render_settings);
    if (this->answers_null(call::get_render_settings) || settings_ == nullptr)
      return nullptr;
    return settings_->hand_out();
  }
  // The settings of the render in progress; the caller keeps them alive.
  void set_render_settings(settings<Policy>* current) { settings_ = current; }

  std::int32_t version;

 private:
  services<Policy>& services_;
  settings<Policy>* settings_;
};

template <class Policy>
class job final : public host_object_base<RenderJob, Policy> {
 public:
  job(application<Policy>& owner, bool is_aborted, picture<Policy>* output = nullptr)
      : aborted(is_aborted), application_(owner), image_(output) {}

  bool VELLOQ_THISCALL is_aborted(std::int32_t) override {
    this->note(call::is_aborted);
    return aborted;
  }
  // An owned reference; null until the picture exists.
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override {
    this->note(call::get_output_image);
    if (this->answers_null(call::get_output_image) || image_ == nullptr)
      return nullptr;
    return image_->hand_out();
  }
  // An owned reference.
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override {
    this->note(call::get_application);
    if (this->answers_null(call::get_application))
      return nullptr;
    return application_.hand_out();
  }
  void set_output_image(picture<Policy>* output) { image_ = output; }

  // A render that failed before its picture was done ends as an aborted one.
  bool aborted;

 private:
  application<Policy>& application_;
  picture<Policy>* image_;
};

}  // namespace host_kit
