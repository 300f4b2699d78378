#pragma once
// One plug-in as the host drives it: loaded, discovered in the host's fixed
// order, its effector component created, and run around each render.

#include <cstdint>
#include <functional>
#include <string>

#include "host/effector_interface.hpp"
#include "refhost/hosting/host_objects.hpp"
#include "refhost/hosting/plugin_module.hpp"

struct discovery_report {
  bool accepted = false;
  std::string title;
  Uuid uuid{{0, 0, 0, 0}};
  std::int32_t interface_version = 0;
  PluginInfo info{0, 0, 0, 0, 0, 0};
  bool resident = false;
  bool separate_interfaces = false;
  std::int32_t first_reference_count = 0;  // create_interface's answer
};

struct session_settings {
  std::int32_t host_version = 440460;
  std::string version_text = "Vorlen reference host";
  std::uint16_t language = 1033;
};

// The host one render is told of, when it is not the session's: a frame
// rendered by another version of the host.
struct render_host {
  std::int32_t version = 0;
  std::string version_text;
};

struct render_outcome {
  int notifications = 0;  // notify_image_changed calls during the end hook
};

class plugin_session {
 public:
  // Loads the module and runs discovery; creates the component only when
  // has_interface accepts this host. Throws module_error.
  // [when: start-up; thread: its worker; re-entrant: yes]
  plugin_session(const std::string& module_path, const session_settings& settings);
  ~plugin_session();
  plugin_session(const plugin_session&) = delete;
  plugin_session& operator=(const plugin_session&) = delete;

  const discovery_report& discovery() const { return discovery_; }

  // One render: the begin hook, then `produce` makes the picture and fills
  // in the times, then the end hook works on it. When `produce` throws, the
  // end hook still comes, for a render job that now says it was aborted,
  // and the exception passes on. `host`, when given, is the host the
  // plug-in is told of during this render alone.
  // [when: per frame; thread: its worker; re-entrant: no]
  render_outcome render(const render_facts& facts, bool aborted,
                        const std::function<memory_image*(render_facts&)>& produce,
                        const render_host* host = nullptr);

  // Problems the host's objects met while the plug-in called them.
  const host_problems& problems() const { return problems_; }

 private:
  plugin_module module_;
  host_problems problems_;
  owned_ref<reference_services> services_;
  owned_ref<reference_application> application_;
  discovery_report discovery_;
  effector_interface* component_ = nullptr;
};
