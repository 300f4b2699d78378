#pragma once
// velloq-host's objects as it hands them to a plug-in: the host kit's, with
// no books, each deleted by its last Release, the texts and images read
// from the module's own resources. None of them throws into the plug-in:
// an exception could not cross the module boundary, so a failure becomes a
// null answer and a message the host prints afterwards.
//
// The plug-in calls them from inside its hooks, so on the worker thread of
// the session they belong to, never on two at once:
// [when: per frame; thread: its worker; re-entrant: no]

#include <cstdint>
#include <string>
#include <vector>

#include "host/owned_ref.hpp"
#include "host_kit/host_objects.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/memory_image.hpp"

using render_facts = host_kit::render_facts;
using reference_settings = host_kit::settings<velloq_host_policy>;
using reference_services = host_kit::services<velloq_host_policy>;
using reference_application = host_kit::application<velloq_host_policy>;
using reference_job = host_kit::job<velloq_host_policy>;

// What went wrong inside host calls, for the host to report.
using host_problems = std::vector<std::string>;

// The module's string table in the host's language, falling back to US
// English (an unknown id gives an empty text), and its TARGA resources,
// decoded (none when missing or malformed). What goes wrong is added to
// `problems`. The module must outlive what this gives.
host_kit::module_resources<velloq_host_policy> resources_of(const plugin_module& module,
                                                            std::uint16_t language,
                                                            host_problems& problems);
