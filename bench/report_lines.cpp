// Prints the fourteen lines velloq-host's plug-in stamps for the facts
// bench/pipeline gives velloq-host (its default host, 440460 "Vorlen
// reference host"; --renderer path-tracing --gi 5 --irradiance-caching on
// --setup-time 0 --rendering-time 0), so that another tool can draw the
// same text.
//
//   bench_report_lines MODULE

#include <cstdio>

#include "plugin/velloq_component.hpp"
#include "refhost/hosting/host_objects.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "refhost/run/command_line.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
    return 2;
  }
  const plugin_module module(argv[1]);
  host_problems problems;
  owned_ref<reference_services> services(
      new reference_services(resources_of(module, 1033, problems), "Vorlen reference host"));
  owned_ref<reference_application> application(new reference_application(440460, *services));
  render_facts facts;
  facts.renderer = renderer_from_text("path-tracing");
  facts.gi_method = 5;
  facts.irradiance_caching = true;
  owned_ref<reference_settings> settings(new reference_settings(facts));
  application->set_render_settings(settings.get());
  owned_ref<reference_job> job(new reference_job(*application, false));

  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(job.get(), application.get(), 0);
  std::printf("%s", component->assemble_report(application.get()).c_str());
  static_cast<IUnknown*>(component)->Release();
  application->set_render_settings(nullptr);
  return 0;
}
