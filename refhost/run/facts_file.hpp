#pragma once
// Each frame's render facts from a file the pipeline keeps with its frames
// (--facts): when frames rendered on a farm are stamped later, the report
// must tell that render's times, not how long velloq-host took to read
// the picture.
//
// CSV: a header line naming the columns, then a line per frame; fields
// separated by commas, a field in double quotes may hold commas and "" for
// a quote. JSON: an array of objects whose keys are the column names.
// Columns: frame, setup_ms and rendering_ms (each line needs them), and
// host_version, version_text, renderer (a name or UUID), gi (a name or
// code), irradiance_caching (on, off, true, false, 1, 0): an empty cell,
// a null or a key left out takes the run's option.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "refhost/hosting/plugin_session.hpp"
#include "refhost/pipeline/frame_stamping.hpp"

using frame_facts_table = std::map<std::int32_t, frame_facts>;

// Throws file_error when the file cannot be read, and usage_error, naming
// the file and its line or entry, for anything else: an unknown column, a
// required one missing, a value that is not what its column takes (times
// are whole milliseconds, 0 and up), a frame given twice.
frame_facts_table read_facts_file(const std::string& path);

// Gives each task the facts of its frame number. Throws usage_error
// naming the frames of the run that the table has no facts for; lines for
// other frames (the rest of a farm's sequence) are no fault.
void attach_facts(std::vector<frame_task>& tasks, const frame_facts_table& table,
                  const std::string& path);

// Why the plug-in would not stamp some frames: it does not offer its
// effector to the host version their facts name, asked as that host would
// ask (a session of its own for each version other than `settings`'s).
// Empty when every frame's host is accepted. Throws module_error.
std::string frame_hosts_refused(const std::vector<frame_task>& tasks,
                                const std::string& module_path, const session_settings& settings);
