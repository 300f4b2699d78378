#pragma once
// A component, a test host and a fake platform, for calling the report
// builders directly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

class component_fixture : public ::testing::Test {
 protected:
  component_fixture() {
    component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
  }
  ~component_fixture() override { static_cast<IUnknown*>(component)->Release(); }

  fake_platform platform;
  test_host host;
  velloq_component* component;
};

inline std::vector<std::string> report_lines(const std::string& report) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = report.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(report.substr(start, end - start));
  }
  EXPECT_EQ(start, report.size()) << "the report does not end with a line break";
  return lines;
}
