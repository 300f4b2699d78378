// The report's sections, separators and line count.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/component_fixture.hpp"

namespace {

class report_layout : public component_fixture {};

TEST_F(report_layout, thirteen_lines_without_irradiance_caching) {
  host.application.version = 430352;
  host.settings.facts.gi_method = 2;
  host.settings.facts.setup_time = 3;
  host.settings.facts.rendering_time = 1234;
  platform.os_text = "Windows 7 Professional Edition 64-bit";
  platform.brand = "Intel(R)   Core(TM)2  CPU";
  platform.processors = 2;
  platform.adapter = "Test Adapter";
  platform.memory = 2147483648ull;
  platform.ticks = {1000, 3500};  // begin hook, then the total-time line
  component->begin_render(&host.job, &host.application, 0);
  const RenderReport report = component->assemble_report(&host.application);
  EXPECT_EQ(report,
            "Vorlen 10.0.6 build 430352 for Windows (IA-32)\n"
            "---\n"
            "OS : Windows 7 Professional Edition 64-bit\n"
            "CPU: 2 x Intel(R) Core(TM)2 CPU \n"
            "GPU: Test Adapter\n"
            "RAM: 2.01 GB\n"
            "---\n"
            "Method: Ray Tracing\n"
            "G.I.  : Photon Mapping\n"
            "---\n"
            "Setup Time    : 3.00 sec\n"
            "Rendering Time: 1.23 sec\n"
            "Total Time    : 2.50 sec\n");
  EXPECT_EQ(report_lines(report).size(), 13u);
}

TEST_F(report_layout, fourteen_lines_with_irradiance_caching_and_separators_only_between) {
  for (bool caching : {true, false}) {
    host.settings.facts.gi_method = 5;
    host.settings.facts.irradiance_caching = caching;
    const std::vector<std::string> lines =
        report_lines(component->assemble_report(&host.application));
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[8], "G.I.  : Path Tracing + Photon Mapping");
    EXPECT_EQ(lines[9], caching ? " Irradiance Caching: ON" : " Irradiance Caching: OFF");
    std::vector<std::size_t> separators;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find("---") != std::string::npos)
        separators.push_back(i);
    }
    EXPECT_EQ(separators, (std::vector<std::size_t>{1, 6, 10}));
    for (std::size_t i : separators) EXPECT_EQ(lines[i], "---");
    EXPECT_EQ(lines.back().rfind("Total Time    : ", 0), 0u);
    EXPECT_EQ(lines.back().substr(lines.back().size() - 4), " sec");
  }
}

TEST_F(report_layout, a_version_text_with_line_breaks_lengthens_the_first_section) {
  host.application.version = 440500;
  host.services.version_text = "Vorlen 12\nbuild 7\n";
  const std::vector<std::string> lines =
      report_lines(component->assemble_report(&host.application));
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "Vorlen 12");
  EXPECT_EQ(lines[1], "build 7");
  EXPECT_EQ(lines[2], " for Windows (IA-32)");
  EXPECT_EQ(lines[3], "---");
}

TEST_F(report_layout, the_builders_run_in_order_and_the_total_time_comes_last) {
  host.settings.facts.gi_method = 1;
  component->begin_render(&host.job, &host.application, 0);
  host.ledger.calls.clear();
  platform.calls.clear();
  component->assemble_report(&host.application);
  // The machine facts are read after the product line and before the render
  // lines; the tick comes after every host query.
  EXPECT_EQ(platform.calls, (std::vector<std::string>{
                                "operating_system_text", "processor_count", "read_processor_brand",
                                "primary_adapter_name", "total_physical_memory", "tick_count"}));
  EXPECT_EQ(host.ledger.calls.front(), "application.get_version");
  EXPECT_EQ(host.ledger.calls.back(), "settings.Release");
  // Every builder released the settings it obtained.
  EXPECT_EQ(host.ledger.count("application.get_render_settings"), 4);
  EXPECT_EQ(host.settings.books().releases, 4);
  EXPECT_EQ(host.settings.books().held(), 0u);
}

}  // namespace
