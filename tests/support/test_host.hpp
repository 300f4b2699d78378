#pragma once
// An in-process host for tests: the host kit's objects, kept by the host and
// keeping books in one ledger, which lists every call in order, counts
// references, and can be told to throw at the k-th host call or to answer
// null from the k-th call that returns an object. Pixel calls are counted
// always and listed only when asked for, since a render makes hundreds of
// thousands of them.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host_kit/host_objects.hpp"

using test_policy = host_kit::recorded;
using test_image = host_kit::picture<test_policy>;
using test_settings = host_kit::settings<test_policy>;
using test_services = host_kit::services<test_policy>;
using test_application = host_kit::application<test_policy>;
using test_job = host_kit::job<test_policy>;
using call_ledger = host_kit::ledger;
using host_kit::injected_fault;

// A whole host: one render's objects wired together.
struct test_host {
  explicit test_host(std::int32_t width = 64, std::int32_t height = 48, Bgra8 fill = {0, 0, 0, 0});

  call_ledger ledger;
  // The module's texts, and the atlas each load makes a new image of
  // (atlas1, atlas2, ...: empty pixels make a transparent one).
  std::map<std::string, std::string> strings;
  std::int32_t atlas_width = 128;
  std::int32_t atlas_height = 72;
  std::vector<Bgra8> atlas_pixels;
  std::vector<std::string> requested_names;

  test_settings settings;
  test_services services;
  test_application application{440500, services, &settings};
  test_image image;
  test_job job{application, false, &image};

  // Describes every reference the plug-in still holds or released too often;
  // empty when every owned reference went back exactly once.
  std::vector<std::string> reference_problems(bool atlas_may_be_held = true) const;
  // Uses the shipped atlas for every load.
  void use_shipped_atlas();

 private:
  host_kit::module_resources<test_policy> resources();
};

// The shipped atlas as upright pixels (128 x 72), read from resources/.
const std::vector<Bgra8>& shipped_atlas_pixels();
