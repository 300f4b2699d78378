#pragma once
// The host's five objects as velloq-validate gives them to a plug-in: the
// host kit's, kept by the host and keeping books on how the plug-in uses
// them. Each object counts the references the plug-in holds (results
// handed out as owned, AddRef, Release; the host keeps one of its own, so
// no release destroys anything), pictures note every pixel access outside
// them, and an object that is gone (a render job after its end hook,
// everything after the component's last Release) notes any call it still
// gets. Texts and image resources come from the plug-in's own resources,
// as the host reads them.

#include <cstdint>
#include <memory>
#include <vector>

#include "host_kit/host_objects.hpp"

using contract_policy = host_kit::recorded;
using contract_image = host_kit::picture<contract_policy>;
using contract_settings = host_kit::settings<contract_policy>;
using contract_services = host_kit::services<contract_policy>;
using contract_application = host_kit::application<contract_policy>;
using contract_job = host_kit::job<contract_policy>;
using module_resources = host_kit::module_resources<contract_policy>;

// One render's job and its picture (a repeatable pattern of colours). The
// job is lent to the hooks; the picture is the job's owned result.
struct contract_frame {
  contract_frame(host_kit::ledger& ledger, contract_application& application, std::int32_t width,
                 std::int32_t height, bool aborted);
  bool picture_changed() const;

  contract_image image;
  std::vector<Bgra8> original;
  contract_job job;
  // notify_image_changed calls made while the picture was still as the
  // host gave it.
  int notified_unchanged = 0;
};

// A whole host: the objects that live as long as a component.
struct contract_host {
  explicit contract_host(module_resources resources);
  // Marks everything gone: the host has dropped the component.
  void retire();

  host_kit::ledger ledger;
  contract_settings settings;  // owned results of get_render_settings
  contract_services services;  // lent
  // The application lent to the exports and the hooks, and the one a job
  // hands out as an owned result: two objects, so that each kind of
  // reference is judged by its own rules.
  contract_application application{440487, services, &settings};
  contract_application job_application{440487, services, &settings};
  // The renders in order; the last one is in progress.
  std::vector<std::unique_ptr<contract_frame>> frames;
};
