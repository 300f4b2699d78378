#pragma once
// The floor of the end hook: the host calls the contract requires for one
// report and one picture, in the hook's order, and nothing else. No report
// is formatted, no luminance summed and no colour blended; where to draw is
// worked out beforehand, so what the floor costs is the host calls alone.

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_image.hpp"
#include "host/render_job.hpp"

// One glyph draw: the target's size is asked once, then the cell pixels
// that fall inside the picture are visited, rows [first_row, last_row) and
// columns [first_column, last_column) of the picture.
struct floor_draw {
  std::int32_t cell_x;  // the cell's top-left pixel in the atlas
  std::int32_t cell_y;
  std::int32_t x;  // where that pixel lands in the picture
  std::int32_t y;
  std::int32_t first_row, last_row, first_column, last_column;
};

struct floor_plan {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t luminance_top = 0, luminance_bottom = 0;  // rows read for the contrast
  std::int32_t luminance_left = 0, luminance_right = 0;  // columns read for the contrast
  std::vector<floor_draw> draws;
  bool newer_host = false;          // the version line asks for the host's text
  bool irradiance_caching = false;  // the GI line asks for the caching state
};

// Where the hook draws `report` into a picture of width x height with
// cells of cell_width x cell_height.
floor_plan plan_floor(const std::string& report, std::int32_t width, std::int32_t height,
                      std::int32_t cell_width, std::int32_t cell_height, std::int32_t host_version,
                      std::int32_t gi_method);

// Makes the end hook's host calls for the plan on `job`'s objects, reading
// glyph coverage from `atlas`. Returns the number of pixel calls made.
std::int64_t run_host_call_floor(RenderJob* job, HostImage* atlas, const floor_plan& plan);
