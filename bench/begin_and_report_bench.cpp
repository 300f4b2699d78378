// The begin hook (loading and measuring the atlas) and report assembly on
// its own (the seven line builders with the running system's facts).

#include <benchmark/benchmark.h>

#include "bench/bench_host.hpp"
#include "plugin/velloq_component.hpp"

namespace {

struct component_fixture {
  component_fixture() {
    component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
  }
  ~component_fixture() { static_cast<IUnknown*>(component)->Release(); }
  component_fixture(const component_fixture&) = delete;
  component_fixture& operator=(const component_fixture&) = delete;

  bench_host<> host{64, 48};
  velloq_component* component;
};

// Each call decodes a new atlas and releases the one the previous call kept.
void begin_hook(benchmark::State& state) {
  component_fixture fixture;
  for (auto _ : state) {
    fixture.component->begin_render(fixture.host.job.get(), fixture.host.application.get(), 0);
  }
  if (fixture.component->glyph_cell_width() != 8)
    state.SkipWithError("the atlas did not load");
}
BENCHMARK(begin_hook)->Unit(benchmark::kMicrosecond);

void report_assembly(benchmark::State& state) {
  component_fixture fixture;
  fixture.component->begin_render(fixture.host.job.get(), fixture.host.application.get(), 0);
  std::size_t length = 0;
  for (auto _ : state) {
    RenderReport report = fixture.component->assemble_report(fixture.host.application.get());
    length = report.size();
    benchmark::DoNotOptimize(report);
  }
  state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(report_assembly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
