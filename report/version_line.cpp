#include "report/version_line.hpp"

#include "plugin/velloq_component.hpp"
#include "report/format_line.hpp"

namespace {

struct known_release {
  std::int32_t version;
  const char* label;
};

constexpr known_release known_releases[] = {
    {430196, "10.0.0"}, {430216, "10.0.1"}, {430286, "10.0.2"}, {430306, "10.0.3"},
    {430313, "10.0.4"}, {430332, "10.0.5"}, {430352, "10.0.6"}, {431092, "10.5.0"},
    {431104, "10.5.1"}, {431118, "10.5.2"}, {431126, "10.5.3"}, {431134, "10.5.4"},
    {440460, "11.0.0"},
};

}  // namespace

const char* version_label(std::int32_t version) {
  for (const known_release& release : known_releases) {
    if (release.version == version)
      return release.label;
  }
  return "x.x.x";
}

std::string platform_label() {
  std::string label = "Windows";
  label += " (IA-";
  label += "32)";
  return label;
}

std::string velloq_component::describe_version(HostApplication* application) {
  const std::int32_t version = application->get_version(0);
  const std::string platform = platform_label();
  if (version >= host_version_text_threshold) {
    // A newer host names itself. One that gives no services or no text gets
    // the older form instead, which then reads "x.x.x" with the number.
    HostServices* services = application->get_services(0);
    const char* host_text = services != nullptr ? services->get_version_text() : nullptr;
    if (host_text != nullptr) {
      const std::string text(host_text);
      return format_line("%s for %s\n", text, platform);
    }
  }
  return format_line("Vorlen %s build %d for %s\n", version_label(version), version, platform);
}
