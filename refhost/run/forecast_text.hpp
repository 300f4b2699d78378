#pragma once
// A dry run's plan as it is shown: a line per frame naming its input, each
// output and what would become of it, and a last line with the exit
// status; or, with --json, a JSON object per frame and the summary.

#include <ostream>

#include "refhost/run/run_forecast.hpp"

// `quiet`: the last line alone.
void print_forecast(std::ostream& out, const run_forecast& forecast, bool quiet);
void print_forecast_json(std::ostream& out, const run_forecast& forecast);
