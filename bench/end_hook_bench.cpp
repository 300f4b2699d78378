// The end hook against its floor. The end hook runs on a component after
// its begin hook, over a memory_image of each size; the floor makes the same
// host calls for the same report and picture and does nothing else. Before
// timing, both run once against logging host objects to prove that they
// make the same calls in the same order. After the run, the ratio of the
// two (medians over the repetitions) is printed for each size.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_host.hpp"
#include "bench/host_call_floor.hpp"
#include "plugin/velloq_component.hpp"
#include "report/system_platform.hpp"

namespace {

constexpr std::int32_t sizes[][2] = {{640, 480}, {1920, 1080}, {3840, 2160}};

// A component that has run its begin hook against a bench host.
template <class Policy = velloq_host_policy>
struct render_fixture {
  render_fixture(std::int32_t width, std::int32_t height) : host(width, height) {
    component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
    component->begin_render(host.job.get(), host.application.get(), 0);
  }
  ~render_fixture() { static_cast<IUnknown*>(component)->Release(); }
  render_fixture(const render_fixture&) = delete;
  render_fixture& operator=(const render_fixture&) = delete;

  floor_plan plan() {
    const RenderReport report = component->assemble_report(host.application.get());
    return plan_floor(report, host.picture->width(), host.picture->height(),
                      component->glyph_cell_width(), component->glyph_cell_height(),
                      bench_host_version, bench_gi_method);
  }

  bench_host<Policy> host;
  velloq_component* component;
};

// The running system's platform with a tick that stands still, so that the
// total-time line, and with it the report, is the same on every call.
class still_clock_platform final : public system_platform {
 public:
  still_clock_platform() : system_(active_platform()) { set_active_platform(this); }
  ~still_clock_platform() { set_active_platform(nullptr); }
  std::uint32_t tick_count() override { return 1000; }
  std::string operating_system_text() override { return system_.operating_system_text(); }
  std::int32_t processor_count() override { return system_.processor_count(); }
  std::string read_processor_brand() override { return system_.read_processor_brand(); }
  std::string primary_adapter_name() override { return system_.primary_adapter_name(); }
  std::uint64_t total_physical_memory() override { return system_.total_physical_memory(); }

 private:
  system_platform& system_;
};

// The calls one run folded into its ledger: how many, and their hash.
struct folded_calls {
  std::uint64_t calls = 0, hash = 0;
  bool operator==(const folded_calls& other) const {
    return calls == other.calls && hash == other.hash;
  }
};

// Whether the floor makes exactly the end hook's host calls at this size.
bool floor_matches_end_hook(std::int32_t width, std::int32_t height) {
  still_clock_platform platform;
  const host_kit::ledger fresh;
  folded_calls hook, floor;
  {
    render_fixture<bench_recorded> fixture(width, height);
    host_kit::ledger& ledger = fixture.host.ledger;
    ledger.hash = fresh.hash;
    ledger.hashed = 0;
    fixture.component->end_render(0);
    hook = {ledger.hashed, ledger.hash};
  }
  {
    render_fixture<bench_recorded> fixture(width, height);
    const floor_plan plan = fixture.plan();
    host_kit::ledger& ledger = fixture.host.ledger;
    ledger.hash = fresh.hash;
    ledger.hashed = 0;
    run_host_call_floor(fixture.host.job.get(), fixture.component->current_glyph_atlas(), plan);
    floor = {ledger.hashed, ledger.hash};
  }
  const bool same = hook == floor;
  std::printf("floor check %dx%d: end hook %llu host calls, floor %llu, %s\n", width, height,
              static_cast<unsigned long long>(hook.calls),
              static_cast<unsigned long long>(floor.calls),
              same ? "same sequence" : "DIFFERENT SEQUENCE");
  return same;
}

// Pixel calls per iteration, and as items per second.
void count_pixel_calls(benchmark::State& state, std::int64_t pixel_calls) {
  state.counters["pixel_calls"] = static_cast<double>(pixel_calls);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * pixel_calls);
}

void end_hook(benchmark::State& state) {
  render_fixture<> fixture(static_cast<std::int32_t>(state.range(0)),
                           static_cast<std::int32_t>(state.range(1)));
  // The hook's count is the floor's; one floor run, untimed, gives it.
  const std::int64_t pixel_calls = run_host_call_floor(
      fixture.host.job.get(), fixture.component->current_glyph_atlas(), fixture.plan());
  for (auto _ : state) fixture.component->end_render(0);
  count_pixel_calls(state, pixel_calls);
}

void host_call_floor(benchmark::State& state) {
  render_fixture<> fixture(static_cast<std::int32_t>(state.range(0)),
                           static_cast<std::int32_t>(state.range(1)));
  const floor_plan plan = fixture.plan();
  HostImage* atlas = fixture.component->current_glyph_atlas();
  std::int64_t pixel_calls = 0;
  for (auto _ : state) {
    pixel_calls = run_host_call_floor(fixture.host.job.get(), atlas, plan);
  }
  count_pixel_calls(state, pixel_calls);
}

void register_sizes(benchmark::internal::Benchmark* benchmark) {
  for (const auto& size : sizes) benchmark->Args({size[0], size[1]});
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(end_hook)->Apply(register_sizes);
BENCHMARK(host_call_floor)->Apply(register_sizes);

// The console output as usual, plus each run's real time kept by name, for
// the ratios printed at the end.
class ratio_reporter final : public benchmark::ConsoleReporter {
 public:
  ratio_reporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    // Single runs when they are reported, else the median aggregate.
    for (const Run& run : runs) {
      if (run.error_occurred)
        continue;
      if (run.run_type == Run::RT_Iteration) {
        times_[run.run_name.function_name][run.run_name.args].push_back(run.GetAdjustedRealTime());
      } else if (run.aggregate_name == "median") {
        medians_[run.run_name.function_name][run.run_name.args] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void print_ratios() const {
    for (const auto& size : sizes) {
      const std::string args = std::to_string(size[0]) + "/" + std::to_string(size[1]);
      const double hook = median_of("end_hook", args);
      const double floor = median_of("host_call_floor", args);
      if (hook > 0 && floor > 0) {
        std::printf("end hook / floor at %dx%d: %.3f (median %.3f ms / %.3f ms)\n", size[0],
                    size[1], hook / floor, hook, floor);
      }
    }
  }

 private:
  // The median real time of one benchmark, 0 when it did not run.
  double median_of(const std::string& name, const std::string& args) const {
    const auto aggregate = medians_.find(name);
    if (aggregate != medians_.end()) {
      const auto found = aggregate->second.find(args);
      if (found != aggregate->second.end())
        return found->second;
    }
    const auto runs = times_.find(name);
    if (runs == times_.end())
      return 0;
    const auto found = runs->second.find(args);
    if (found == runs->second.end() || found->second.empty())
      return 0;
    std::vector<double> values = found->second;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  }

  std::map<std::string, std::map<std::string, std::vector<double>>> times_;
  std::map<std::string, std::map<std::string, double>> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  bool floor_is_exact = true;
  for (const auto& size : sizes) floor_is_exact &= floor_matches_end_hook(size[0], size[1]);
  if (!floor_is_exact)
    return 1;
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
