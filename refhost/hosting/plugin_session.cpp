#include "refhost/hosting/plugin_session.hpp"

#include <optional>

plugin_session::plugin_session(const std::string& module_path, const session_settings& settings)
    : module_(module_path),
      services_(new reference_services(resources_of(module_, settings.language, problems_),
                                       settings.version_text)),
      application_(new reference_application(settings.host_version, *services_)) {
  const plugin_entry_points& entry = module_.entry_points();
  HostApplication* application = application_.get();
  const void* id = effector_interface_id;

  discovery_.accepted = entry.has_interface(id, application) != 0;
  if (!discovery_.accepted)
    return;
  const char* title = entry.get_name(id, 0, application, 0);
  discovery_.title = title != nullptr ? title : "";
  entry.get_uuid(&discovery_.uuid, id, 0, 0);
  discovery_.interface_version = entry.get_interface_version(0);
  entry.get_info(&discovery_.info, 0, 0);
  discovery_.resident = entry.is_resident(0, 0, 0) != 0;
  discovery_.separate_interfaces = entry.has_separate_interfaces(0) != 0;

  void* created = nullptr;
  discovery_.first_reference_count = entry.create_interface(0, 0, &created, 0, 0);
  if (created == nullptr)
    throw module_error("the plug-in created no effector component");
  component_ = static_cast<effector_interface*>(created);
}

plugin_session::~plugin_session() {
  // The host's one reference; the component goes away with it.
  if (component_ != nullptr)
    static_cast<IUnknown*>(component_)->Release();
}

render_outcome plugin_session::render(const render_facts& facts, bool aborted,
                                      const std::function<memory_image*(render_facts&)>& produce,
                                      const render_host* host) {
  render_outcome outcome;
  if (component_ == nullptr)
    return outcome;
  // The session's own host again after this render, however it ends.
  struct host_restorer {
    reference_application& application;
    reference_services& services;
    render_host own;
    ~host_restorer() {
      application.version = own.version;
      services.version_text = own.version_text;
    }
  };
  std::optional<host_restorer> restore;
  if (host != nullptr) {
    restore.emplace(
        host_restorer{*application_, *services_, {application_->version, services_->version_text}});
    application_->version = host->version;
    services_->version_text = host->version_text;
  }
  owned_ref<reference_settings> current(new reference_settings(facts));
  application_->set_render_settings(current.get());
  owned_ref<reference_job> job(new reference_job(*application_, aborted));

  component_->begin_render(job.get(), application_.get(), 0);
  try {
    job->set_output_image(produce(current->facts));
  } catch (...) {
    job->aborted = true;
    component_->end_render(0);
    application_->set_render_settings(nullptr);
    throw;
  }
  component_->end_render(0);

  outcome.notifications = current->notifications;
  job->set_output_image(nullptr);
  application_->set_render_settings(nullptr);
  return outcome;
}
