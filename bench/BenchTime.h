#pragma once

#include <cstdlib>

// The least time that a case with a figure of its own measures for: that figure, unless
// VELT_BENCH_SMOKE is set, when a run only shows that the case still works
// (scripts/bench-smoke.sh, CI's benchmark stage).
inline double MinTimeSeconds(double seconds)
{
    return std::getenv("VELT_BENCH_SMOKE") != nullptr ? 0.01 : seconds;
}
