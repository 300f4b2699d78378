// Each line builder's text for the answers that tell faults apart.

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "tests/support/component_fixture.hpp"

namespace {

class version_line : public component_fixture {
 protected:
  std::string line_for(std::int32_t version) {
    host.application.version = version;
    host.ledger.calls.clear();
    return component->describe_version(&host.application);
  }
};

TEST_F(version_line, older_hosts_are_named_from_the_release_table_by_exact_number) {
  const std::pair<std::int32_t, const char*> releases[] = {
      {430196, "10.0.0"}, {430216, "10.0.1"}, {430286, "10.0.2"}, {430306, "10.0.3"},
      {430313, "10.0.4"}, {430332, "10.0.5"}, {430352, "10.0.6"}, {431092, "10.5.0"},
      {431104, "10.5.1"}, {431118, "10.5.2"}, {431126, "10.5.3"}, {431134, "10.5.4"},
      {440460, "11.0.0"}, {430197, "x.x.x"},  {440468, "x.x.x"},  {440486, "x.x.x"},
      {0, "x.x.x"},       {-5, "x.x.x"},      {INT_MIN, "x.x.x"},
  };
  for (const auto& [version, label] : releases) {
    EXPECT_EQ(line_for(version), std::string("Vorlen ") + label + " build " +
                                     std::to_string(version) + " for Windows (IA-32)\n");
    EXPECT_EQ(host.ledger.calls, std::vector<std::string>{"application.get_version"}) << version;
  }
}

TEST_F(version_line, newer_hosts_name_themselves) {
  host.services.version_text = "Vorlen 12.1.0 (build 440487)";
  EXPECT_EQ(line_for(440487), "Vorlen 12.1.0 (build 440487) for Windows (IA-32)\n");
  EXPECT_EQ(host.ledger.calls,
            (std::vector<std::string>{"application.get_version", "application.get_services",
                                      "services.get_version_text"}));
  host.services.version_text = "";
  EXPECT_EQ(line_for(INT_MAX), " for Windows (IA-32)\n");
}

TEST_F(version_line, a_newer_host_without_a_text_gets_the_numbered_form) {
  host.services.version_text_is_null = true;
  EXPECT_EQ(line_for(440487), "Vorlen x.x.x build 440487 for Windows (IA-32)\n");
  host.services.version_text_is_null = false;
  host.ledger.null_at = host.ledger.object_calls + 1;  // get_services answers null
  EXPECT_EQ(line_for(440500), "Vorlen x.x.x build 440500 for Windows (IA-32)\n");
}

class render_lines : public component_fixture {};

TEST_F(render_lines, renderers_are_named_by_their_uuid) {
  const std::pair<Uuid, const char*> renderers[] = {
      {{{2, 0, 0, 0}}, "Ray Tracing(Draft)"},
      {{{0, 0, 0, 0}}, "Ray Tracing"},
      {{{1, 0, 0, 0}}, "Path Tracing"},
      {{{0x18473B78, 0x6E0B4BEB, 0xB5143CC9, 0xBC31D80F}}, "Toon Renderer"},
      {{{0x31300000, 0x53B811D9, 0xBCFF000A, 0x95BACEB2}}, "Wire-frame"},
      {{{0x20301201, 0x53B811D9, 0xBCFF000A, 0x95BACEB2}}, "TESSERAK"},
      {{{0x20301201, 0x53B811D9, 0xBCFF000A, 0x95BACEB3}}, "Unknown"},
      {{{0, 0, 0, 1}}, "Unknown"},
      {{{3, 0, 0, 0}}, "Unknown"},
  };
  for (const auto& [uuid, name] : renderers) {
    host.settings.facts.renderer = uuid;
    EXPECT_EQ(component->describe_render_method(&host.application),
              std::string("Method: ") + name + "\n");
  }
  EXPECT_EQ(host.settings.books().held(), 0u);
}

TEST_F(render_lines, gi_methods_and_when_irradiance_caching_is_asked) {
  const std::pair<std::int32_t, const char*> methods[] = {
      {0, "None"},          {1, "Path Tracing"}, {2, "Photon Mapping"},
      {3, "Radiosity"},     {4, "Unknown"},      {5, "Path Tracing + Photon Mapping"},
      {6, "Unknown"},       {-1, "Unknown"},     {INT_MIN, "Unknown"},
      {INT_MAX, "Unknown"},
  };
  for (const auto& [code, name] : methods) {
    for (bool caching : {true, false}) {
      host.settings.facts.gi_method = code;
      host.settings.facts.irradiance_caching = caching;
      host.ledger.calls.clear();
      const bool asks = code == 1 || code == 5;
      std::string expected = std::string("G.I.  : ") + name;
      if (asks)
        expected += caching ? "\n Irradiance Caching: ON" : "\n Irradiance Caching: OFF";
      EXPECT_EQ(component->describe_gi(&host.application), expected + "\n") << code;
      std::vector<std::string> calls = {"application.get_render_settings",
                                        "settings.get_gi_method"};
      if (asks)
        calls.push_back("settings.get_irradiance_caching");
      calls.push_back("settings.Release");
      EXPECT_EQ(host.ledger.calls, calls) << code;
    }
  }
}

TEST_F(render_lines, setup_time_is_in_seconds_before_440468) {
  struct setup_case {
    std::int32_t version, time;
    const char* shown;
  };
  for (setup_case c : {setup_case{440467, 3, "3.00"}, setup_case{440468, 3, "0.00"},
                       setup_case{440468, 1234, "1.23"}, setup_case{430000, -2, "-2.00"},
                       setup_case{440467, 2147484, "-2147483.25"},  // wraps as 32-bit
                       setup_case{INT_MAX, INT_MIN, "-2147483.75"}}) {
    host.application.version = c.version;
    host.settings.facts.setup_time = c.time;
    host.ledger.calls.clear();
    EXPECT_EQ(component->describe_setup_time(&host.application),
              std::string("Setup Time    : ") + c.shown + " sec\n")
        << c.version << " " << c.time;
    EXPECT_EQ(host.ledger.calls, (std::vector<std::string>{
                                     "application.get_render_settings", "settings.get_setup_time",
                                     "application.get_version", "settings.Release"}));
  }
}

TEST_F(render_lines, rendering_time_shows_the_single_precision_seconds) {
  for (const auto& [time, shown] :
       {std::pair{0, "0.00"}, std::pair{5, "0.00"}, std::pair{45, "0.05"}, std::pair{1234, "1.23"},
        std::pair{-1500, "-1.50"}, std::pair{INT_MAX, "2147483.75"}}) {
    host.settings.facts.rendering_time = time;
    EXPECT_EQ(component->describe_rendering_time(&host.application),
              std::string("Rendering Time: ") + shown + " sec\n")
        << time;
  }
}

TEST_F(render_lines, total_time_survives_a_wrap_of_the_tick_counter) {
  for (const auto& [start, end, shown] :
       {std::tuple{4294967000u, 300u, "0.60"}, std::tuple{3000000000u, 3000002500u, "2.50"},
        std::tuple{0u, 0u, "0.00"}, std::tuple{1u, 0u, "4294967.50"}}) {
    platform.tick = start;
    component->begin_render(&host.job, &host.application, 0);
    platform.tick = end;
    host.ledger.calls.clear();
    EXPECT_EQ(component->describe_total_time(&host.application),
              std::string("Total Time    : ") + shown + " sec\n");
    EXPECT_TRUE(host.ledger.calls.empty());  // no host object is used
  }
}

TEST_F(render_lines, missing_render_settings_read_as_unknown) {
  for (int builder = 0; builder < 4; ++builder) {
    host.ledger.null_at = host.ledger.object_calls + 1;
    std::string line;
    switch (builder) {
      case 0:
        line = component->describe_render_method(&host.application);
        break;
      case 1:
        line = component->describe_gi(&host.application);
        break;
      case 2:
        line = component->describe_setup_time(&host.application);
        break;
      default:
        line = component->describe_rendering_time(&host.application);
        break;
    }
    EXPECT_NE(line.find(": Unknown\n"), std::string::npos) << line;
  }
  EXPECT_EQ(host.settings.books().releases, 0);
}

}  // namespace
