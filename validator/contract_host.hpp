#pragma once
// The host's five objects as velloq-validate gives them to a plug-in: they
// answer as the host's contract says and keep books on how the plug-in
// uses them. Each object counts the references the plug-in holds (results
// handed out as owned, AddRef, Release; the host keeps one of its own, so
// no release destroys anything), pictures note every pixel access outside
// them, and an object that is gone (a render job after its end hook,
// everything after the component's last Release) notes any call it still
// gets. Texts and image resources come from the plug-in's own resources,
// as the host reads them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_services.hpp"
#include "host/render_job.hpp"
#include "host/render_settings.hpp"

// What every object of one host writes into.
struct contract_ledger {
  // "RenderJob::is_aborted after the end hook returned", in order.
  std::vector<std::string> late_calls;
  // Of the calls that return an owned object, the one (counted from 1)
  // that answers null instead; 0: none.
  int null_at = 0;
  int object_calls = 0;
  std::string null_answered;  // which call answered null
  bool next_object_is_null(const std::string& call);
};

// Reference books shared by the five kinds of object.
template <class Interface>
class contract_object : public Interface {
 public:
  contract_object(contract_ledger& ledger, std::string name)
      : ledger_(ledger), name_(std::move(name)) {}
  virtual ~contract_object() = default;

  std::uint32_t VELLOQ_THISCALL AddRef() override {
    called("AddRef");
    ++add_refs;
    return static_cast<std::uint32_t>(1 + held());
  }
  std::uint32_t VELLOQ_THISCALL Release() override {
    called("Release");
    ++releases;
    return static_cast<std::uint32_t>(std::max(1, 1 + held()));
  }
  // One owned reference for the plug-in, as an owned result is given.
  Interface* hand_out() {
    ++handed_out;
    return this;
  }
  // References the plug-in holds: negative when it released more than it got.
  int held() const { return handed_out + add_refs - releases; }
  const std::string& name() const { return name_; }

  int handed_out = 0, add_refs = 0, releases = 0;
  bool gone = false;

 protected:
  void called(const char* operation) {
    if (gone)
      ledger_.late_calls.push_back(name_ + "::" + operation);
  }
  contract_ledger& ledger_;
  std::string name_;
};

class contract_image final : public contract_object<HostImage> {
 public:
  contract_image(contract_ledger& ledger, std::string name, std::int32_t width, std::int32_t height,
                 std::vector<Bgra8> pixels);
  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t) override;
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t) override;
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t) override;

  std::int32_t width, height;
  std::vector<Bgra8> pixels;
  std::int64_t outside_accesses = 0;
  std::string first_outside;  // "set_pixel(640, 0)"

 private:
  Bgra8* at(const char* operation, std::int32_t x, std::int32_t y);
};

class contract_settings final : public contract_object<RenderSettings> {
 public:
  explicit contract_settings(contract_ledger& ledger) : contract_object(ledger, "RenderSettings") {}
  Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t) override;
  bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t) override;
  std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t) override;
  void VELLOQ_THISCALL notify_image_changed(std::int32_t) override;

  int notifications = 0;
};

// The plug-in's own resources as the host reads them.
struct module_resources {
  std::function<std::optional<std::string>(const std::string& id)> text;
  std::function<std::unique_ptr<contract_image>(contract_ledger&, const std::string& name)> image;
};

class contract_services final : public contract_object<HostServices> {
 public:
  contract_services(contract_ledger& ledger, module_resources resources)
      : contract_object(ledger, "HostServices"), resources_(std::move(resources)) {}
  const char* VELLOQ_THISCALL get_localized_string(const char* id) override;
  HostImage* VELLOQ_THISCALL load_image_resource(const char* name) override;
  const char* VELLOQ_THISCALL get_version_text() override;

  std::vector<std::unique_ptr<contract_image>> loaded;
  // Texts handed out, kept for the host's life.
  std::vector<std::unique_ptr<std::string>> texts;

 private:
  module_resources resources_;
};

class contract_application final : public contract_object<HostApplication> {
 public:
  contract_application(contract_ledger& ledger, contract_services& services,
                       contract_settings& settings)
      : contract_object(ledger, "HostApplication"), services_(services), settings_(settings) {}
  std::int32_t VELLOQ_THISCALL get_version(std::int32_t) override;
  HostServices* VELLOQ_THISCALL get_services(std::int32_t) override;
  RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t) override;

  std::int32_t version = 440487;

 private:
  contract_services& services_;
  contract_settings& settings_;
};

class contract_job final : public contract_object<RenderJob> {
 public:
  contract_job(contract_ledger& ledger, contract_image& image, contract_application& application,
               bool aborted)
      : contract_object(ledger, "RenderJob"),
        aborted_(aborted),
        image_(image),
        application_(application) {}
  bool VELLOQ_THISCALL is_aborted(std::int32_t) override;
  HostImage* VELLOQ_THISCALL get_output_image(std::int32_t) override;
  HostApplication* VELLOQ_THISCALL get_application(std::int32_t) override;

 private:
  bool aborted_;
  contract_image& image_;
  contract_application& application_;
};

// One render's job and its picture (a repeatable pattern of colours).
struct contract_frame {
  contract_frame(contract_ledger& ledger, contract_application& application, std::int32_t width,
                 std::int32_t height, bool aborted);
  bool picture_changed() const;

  std::vector<Bgra8> original;
  contract_image image;
  contract_job job;
};

// A whole host: the objects that live as long as a component.
struct contract_host {
  explicit contract_host(module_resources resources);
  // Every object the plug-in could still hold, frames included.
  std::vector<const contract_object<HostImage>*> images() const;
  // Marks everything gone: the host has dropped the component.
  void retire();

  contract_ledger ledger;
  contract_settings settings{ledger};
  contract_services services;
  contract_application application{ledger, services, settings};
  std::vector<std::unique_ptr<contract_frame>> frames;
};
