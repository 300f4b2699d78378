#include "refhost/hosting/scene.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

// The 32-bit build would otherwise compute on the x87 stack, whose extended
// precision rounds differently from the 64-bit build. With SSE2 both run
// the same IEEE double operations and write the same bytes.
#if defined(__GNUC__) && !defined(__clang__) && defined(__i386__)
#pragma GCC target("sse2", "fpmath=sse")
#endif

namespace {

struct vec3 {
  double x, y, z;
};

vec3 operator+(vec3 a, vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
vec3 operator-(vec3 a, vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
vec3 operator*(vec3 a, double s) {
  return {a.x * s, a.y * s, a.z * s};
}
vec3 operator*(vec3 a, vec3 b) {
  return {a.x * b.x, a.y * b.y, a.z * b.z};
}
double dot(vec3 a, vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
vec3 normalized(vec3 a) {
  return a * (1.0 / std::sqrt(dot(a, a)));
}
vec3 mix(vec3 a, vec3 b, double t) {
  return a + (b - a) * t;
}

double clamp01(double v) {
  return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

double smoothstep(double edge0, double edge1, double v) {
  const double t = clamp01((v - edge0) / (edge1 - edge0));
  return t * t * (3.0 - 2.0 * t);
}

// sin(2 pi turns) from a short series on the folded angle: accurate to a
// few millionths, and unlike std::sin the same on every C library.
double sine_of_turns(double turns) {
  constexpr double pi = 3.14159265358979323846;
  double x = turns - std::floor(turns);
  if (x >= 0.5)
    x -= 1.0;
  double a = 2.0 * pi * x;  // -pi to pi
  if (a > pi / 2)
    a = pi - a;
  if (a < -pi / 2)
    a = -pi - a;
  const double a2 = a * a;
  return a * (1.0 - a2 / 6.0 * (1.0 - a2 / 20.0 * (1.0 - a2 / 42.0 * (1.0 - a2 / 72.0))));
}
double cosine_of_turns(double turns) {
  return sine_of_turns(turns + 0.25);
}

struct sphere {
  vec3 centre;
  double radius;
  vec3 albedo;
};

constexpr int sphere_count = 3;

struct scene {
  sphere spheres[sphere_count];
  vec3 to_sun;  // unit vectors towards the lights
  vec3 to_fill;
};

// Everything in linear light; the eye sits at eye_height above the ground
// plane y = 0 and looks along +z.
constexpr double eye_height = 1.6;
constexpr vec3 eye = {0.0, eye_height, 0.0};
constexpr vec3 sun_light = {1.6, 1.36, 1.04};
// An unseen light above and behind the viewer's left shoulder, so that the
// faces of the spheres turned to the viewer are not all in shade.
constexpr vec3 fill_light = {0.50, 0.52, 0.58};
constexpr vec3 sky_zenith = {0.05, 0.16, 0.48};
constexpr vec3 sky_horizon = {0.95, 0.86, 0.72};
constexpr vec3 sky_ambient = {0.30, 0.34, 0.42};
constexpr vec3 ground_bounce = {0.05, 0.05, 0.06};
constexpr vec3 haze = {0.80, 0.74, 0.66};
constexpr vec3 tile_dark = {0.045, 0.05, 0.06};
constexpr vec3 tile_light = {0.11, 0.115, 0.13};
constexpr double sun_radius = 0.03;  // radians
constexpr double haze_distance = 35.0;

scene place_spheres(double phase) {
  scene s;
  // Computed here rather than at static initialisation, so that it too
  // runs under the floating-point settings above.
  s.to_sun = normalized({0.62, 0.40, 1.0});
  s.to_fill = normalized({-0.6, 0.8, -0.7});
  // A large red sphere circling slowly, a gold one bouncing on its own
  // circle and a small teal one swinging from side to side further back.
  s.spheres[0] = {{0.7 + 1.2 * cosine_of_turns(phase), 1.0, 6.8 + 1.2 * sine_of_turns(phase)},
                  1.0,
                  {0.75, 0.16, 0.10}};
  const double bounce = sine_of_turns(2.0 * phase);
  s.spheres[1] = {{2.4 + 0.7 * cosine_of_turns(phase + 1.0 / 3.0), 0.7 + 0.6 * bounce * bounce,
                   5.0 + 0.7 * sine_of_turns(phase + 1.0 / 3.0)},
                  0.7,
                  {0.85, 0.60, 0.14}};
  s.spheres[2] = {{-1.4 + 1.5 * sine_of_turns(phase), 0.55, 9.5}, 0.55, {0.10, 0.52, 0.58}};
  return s;
}

// Distance along the unit ray to the sphere, or a negative value on a miss.
double hit_sphere(const sphere& ball, vec3 origin, vec3 direction) {
  const vec3 offset = origin - ball.centre;
  const double b = dot(offset, direction);
  const double c = dot(offset, offset) - ball.radius * ball.radius;
  const double discriminant = b * b - c;
  if (discriminant < 0.0)
    return -1.0;
  return -b - std::sqrt(discriminant);
}

// Fraction of the light from direction `to_light` reaching `point`: each
// sphere in the way casts a shadow whose edge widens with the distance from
// the sphere.
double unshadowed(const scene& s, vec3 point, int skip, vec3 to_light) {
  double light = 1.0;
  for (int i = 0; i < sphere_count; ++i) {
    if (i == skip)
      continue;
    const sphere& ball = s.spheres[i];
    const vec3 offset = ball.centre - point;
    const double along = dot(offset, to_light);
    if (along <= 0.0)
      continue;
    const double miss_squared = dot(offset, offset) - along * along;
    const double miss = std::sqrt(miss_squared > 0.0 ? miss_squared : 0.0);
    const double spread = 0.08 * ball.radius + 0.05 * along;
    light *= smoothstep(ball.radius - spread, ball.radius + spread, miss);
  }
  return light;
}

// Darkening of the ground near each sphere's point of contact: roughly
// the part of the sky the sphere hides from that point.
double ground_occlusion(const scene& s, vec3 point) {
  double open = 1.0;
  for (const sphere& ball : s.spheres) {
    const vec3 offset = ball.centre - point;
    const double ratio = ball.radius / std::sqrt(dot(offset, offset));
    open *= 1.0 - ratio * ratio * ratio;
  }
  return open;
}

vec3 sky(const scene& s, vec3 direction) {
  const double elevation = direction.y > 0.0 ? direction.y : 0.0;
  const double rise = clamp01(elevation * 2.2);
  vec3 colour = mix(sky_horizon, sky_zenith, rise * (2.0 - rise));
  // Angle to the sun, squared: 2 (1 - cos) is close to it near the sun.
  const double angle_squared = 2.0 * (1.0 - dot(direction, s.to_sun));
  const double glow = 0.30 * 0.01 / (angle_squared + 0.01) +  // 0.1 rad
                      0.12 * 0.25 / (angle_squared + 0.25);   // 0.5 rad
  colour = colour + vec3{1.0, 0.75, 0.45} * glow;
  if (angle_squared < sun_radius * sun_radius)
    colour = {1.0, 0.97, 0.90};
  return colour;
}

vec3 fogged(vec3 colour, double distance) {
  const double d2 = distance * distance;
  return mix(colour, haze, d2 / (d2 + haze_distance * haze_distance));
}

vec3 shade_ground(const scene& s, vec3 point, double distance) {
  const bool dark =
      (static_cast<long long>(std::floor(point.x)) + static_cast<long long>(std::floor(point.z))) %
          2 !=
      0;
  // Far tiles blend into their mean instead of shimmering.
  const vec3 mean_tile = mix(tile_dark, tile_light, 0.5);
  const vec3 albedo = mix(dark ? tile_dark : tile_light, mean_tile, clamp01(distance / 60.0));
  const vec3 light = sun_light * (s.to_sun.y * unshadowed(s, point, -1, s.to_sun)) +
                     fill_light * (s.to_fill.y * unshadowed(s, point, -1, s.to_fill)) +
                     sky_ambient * ground_occlusion(s, point);
  return fogged(albedo * light, distance);
}

vec3 shade_sphere(const scene& s, int index, vec3 point, double distance) {
  const sphere& ball = s.spheres[index];
  const vec3 normal = (point - ball.centre) * (1.0 / ball.radius);
  const double facing_sun = dot(normal, s.to_sun);
  const double facing_fill = dot(normal, s.to_fill);
  const vec3 light =
      sun_light * (facing_sun > 0.0 ? facing_sun * unshadowed(s, point, index, s.to_sun) : 0.0) +
      fill_light *
          (facing_fill > 0.0 ? facing_fill * unshadowed(s, point, index, s.to_fill) : 0.0) +
      sky_ambient * (0.5 + 0.5 * normal.y) + ground_bounce * (0.5 - 0.5 * normal.y);
  return fogged(ball.albedo * light, distance);
}

struct sample {
  vec3 colour;
  bool geometry;
};

sample trace(const scene& s, vec3 direction) {
  double nearest = 1e300;
  int hit = -1;
  for (int i = 0; i < sphere_count; ++i) {
    const double t = hit_sphere(s.spheres[i], eye, direction);
    if (t > 0.0 && t < nearest) {
      nearest = t;
      hit = i;
    }
  }
  if (hit >= 0)
    return {shade_sphere(s, hit, eye + direction * nearest, nearest), true};
  if (direction.y < 0.0) {
    const double t = eye_height / -direction.y;
    // Beyond this the ground is haze and nothing else; it also keeps the
    // tile coordinates small.
    if (t < 5000.0)
      return {shade_ground(s, eye + direction * t, t), true};
    return {haze, true};
  }
  return {sky(s, direction), false};
}

// Linear light to a byte, with a square root standing in for the display
// curve.
std::uint8_t encode(double linear) {
  return static_cast<std::uint8_t>(std::sqrt(clamp01(linear)) * 255.0 + 0.5);
}

}  // namespace

host_image_ptr render_scene(std::int32_t width, std::int32_t height, std::int32_t frame,
                            std::int32_t frame_count) {
  if (width < 1 || height < 1) {
    throw std::invalid_argument("scene size " + std::to_string(width) + "x" +
                                std::to_string(height) + " is empty");
  }
  host_image_ptr image = make_host_image(width, height);

  const std::int64_t cycle = frame_count > 1 ? frame_count : 1;
  const std::int64_t step = ((std::int64_t{frame} % cycle) + cycle) % cycle;
  const scene s = place_spheres(static_cast<double>(step) / static_cast<double>(cycle));

  // The horizon sits above the middle, leaving more than half to the ground.
  const double focal = 0.85 * height;
  const double centre_x = 0.5 * width;
  const double horizon_y = 0.4 * height;
  // Four samples per pixel, on a regular grid, smooth the silhouettes.
  static const double offsets[4][2] = {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};

  Bgra8* out = image->pixels().data();
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      vec3 sum = {0.0, 0.0, 0.0};
      int covered = 0;
      for (const auto& offset : offsets) {
        const vec3 direction = normalized(
            {(x + offset[0] - centre_x) / focal, (horizon_y - (y + offset[1])) / focal, 1.0});
        const sample found = trace(s, direction);
        sum = sum + found.colour;
        covered += found.geometry ? 1 : 0;
      }
      *out++ = Bgra8{encode(sum.z * 0.25), encode(sum.y * 0.25), encode(sum.x * 0.25),
                     static_cast<std::uint8_t>((covered * 255 + 2) / 4)};
    }
  }
  return image;
}
