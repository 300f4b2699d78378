// The report: four sections joined by separator lines.

#include "plugin/velloq_component.hpp"

namespace {
constexpr const char* separator = "---\n";
}

RenderReport velloq_component::assemble_report(HostApplication* application) {
  // Each builder runs to completion before the next one starts; the total
  // time comes last so that it covers the gathering of the other lines.
  RenderReport report;
  report += describe_version(application);
  report += separator;
  report += describe_machine(application);
  report += separator;
  report += describe_render_method(application);
  report += describe_gi(application);
  report += separator;
  report += describe_setup_time(application);
  report += describe_rendering_time(application);
  report += describe_total_time(application);
  return report;
}
