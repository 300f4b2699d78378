// Report assembly with the real Windows platform calls (GetVersionExA,
// GetSystemInfo, CPUID, EnumDisplayDevicesA, GlobalMemoryStatusEx, ...),
// timed over many reports. Prints the report once and the time per report.
//
//   report_assembly_bench_win32 [reports]   (default 2000)

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_host.hpp"
#include "plugin/velloq_component.hpp"

int main(int argc, char** argv) {
  const long reports = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
  if (reports <= 0) {
    std::fprintf(stderr, "usage: %s [reports]\n", argv[0]);
    return 2;
  }
  bench_host<> host(64, 48);
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(host.job.get(), host.application.get(), 0);

  const RenderReport first = component->assemble_report(host.application.get());
  std::printf("%s", first.c_str());
  std::size_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < reports; ++i) {
    bytes += component->assemble_report(host.application.get()).size();
  }
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  static_cast<IUnknown*>(component)->Release();

  std::printf("report assembly: %.4f ms per report (%ld reports, %.1f ms, %zu bytes)\n",
              elapsed.count() / static_cast<double>(reports), reports, elapsed.count(), bytes);
  return bytes == 0 ? 1 : 0;
}
