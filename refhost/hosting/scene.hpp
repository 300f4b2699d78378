#pragma once
// The picture the reference host "renders": a procedural outdoor scene, so
// that the plug-in stamps its report into something with both bright and
// dark areas.
//
// Seen from eye height over an endless ground plane: a sky that pales
// towards the horizon, a low sun in the upper right with a warm halo, a
// dark checkered ground fading into haze, and three matte spheres lit by
// the sun (so mostly from behind, with bright rims) and by the sky, casting
// long soft shadows towards the viewer. The spheres circle and bounce with
// the frame; the motion repeats every frame_count frames. In the default
// 640 x 480 view the bottom-left corner, where the report goes, is dark
// ground.
//
// Alpha is coverage by geometry: 255 on the ground and the spheres, 0 for
// the open sky and the sun, partial along the silhouettes, as a renderer
// leaves it before anything makes the picture opaque. The colours of the
// sky are there all the same.
//
// The output depends only on the arguments, and is the same on every
// platform: the arithmetic is IEEE double without library functions that
// may round differently.

#include <cstdint>

#include "refhost/pictures/image_handle.hpp"

// Throws std::invalid_argument for a width or height below 1 and
// std::length_error for a picture larger than memory_image::max_pixels.
// A frame_count below 1 counts as 1 (a still); frames outside 0 to
// frame_count - 1 wrap around.
host_image_ptr render_scene(std::int32_t width, std::int32_t height, std::int32_t frame,
                            std::int32_t frame_count);
