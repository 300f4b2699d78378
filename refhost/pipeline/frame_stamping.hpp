#pragma once
// One frame of a run, from its picture to its files: read or rendered
// inside a render of the plug-in session, as the host renders, then
// written in every format of the run. A frame is written whole or not at
// all: a frame that fails leaves no file of its own behind, and what was
// under its names before stays.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/files/output_file.hpp"
#include "refhost/hosting/plugin_session.hpp"
#include "refhost/pictures/picture_formats.hpp"

// What the host knew of one frame's render (as the farm that rendered it
// recorded it), told to the plug-in in place of the run's options and of
// what velloq-host measures. What is not given comes from the run.
struct frame_facts {
  std::int32_t setup_ms = 0;  // told in seconds to hosts that count so
  std::int32_t rendering_ms = 0;
  std::optional<std::int32_t> host_version;
  std::optional<std::string> version_text;
  std::optional<Uuid> renderer;
  std::optional<std::int32_t> gi_method;
  std::optional<bool> irradiance_caching;
};

struct frame_task {
  std::string input_path;            // empty: a frame of the built-in scene
  std::int32_t scene_frame = 0;      // that frame, counted from 0
  std::vector<std::string> outputs;  // one per format of the run, in its order
  bool replace = false;              // replaces what its names hold, whatever the run's policy
  // Its number: a sequence's frame number, the built-in scene's frame
  // from 1, other inputs counted from 1.
  std::int32_t number = 1;
  std::optional<frame_facts> facts;  // none: the run's and what is measured
};

// What every frame of a run shares.
struct stamping_settings {
  std::vector<const picture_format*> formats;
  int jpeg_quality = 90;
  replace_policy policy = replace_policy::keep_existing;
  render_facts facts;  // its times are measured per frame unless given here
  std::optional<std::int32_t> setup_time;
  std::optional<std::int32_t> rendering_time;
  bool abort = false;
  std::int32_t host_version = 0;
  std::string version_text;      // of host_version, for frames of another host
  std::int32_t scene_width = 0;  // the built-in scene's size and frame count
  std::int32_t scene_height = 0;
  std::int32_t scene_frames = 1;
  // Cores no frame is using at the moment, which an encoder may share a
  // frame's work with (the last frames of a run, a single frame); none when
  // empty. [when: per frame; thread: any worker; re-entrant: yes]
  std::function<int()> spare_cores;
};

// Why a frame failed, naming its file. `kept` lists the files already
// under this frame's names: an earlier run's, left as they were, which the
// user must not take for this run's.
struct frame_failure : std::runtime_error {
  frame_failure(const std::string& reason, std::vector<std::string> kept_files)
      : std::runtime_error(reason), kept(std::move(kept_files)) {}
  std::vector<std::string> kept;
};

// Stamps and writes one frame. Returns the render's outcome; throws
// frame_failure.
// [when: per frame; thread: any worker; re-entrant: yes]
render_outcome stamp_frame(plugin_session& session, const frame_task& task,
                           const stamping_settings& settings);

// Throws image_format_error, naming `source`, for the first format that
// cannot hold a picture of this size.
void check_formats_hold(const std::vector<const picture_format*>& formats, std::int32_t width,
                        std::int32_t height, const std::string& source);
