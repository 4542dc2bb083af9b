// verdict.h - how a benchmark judges its goals: each goal on the median of
// several blocks measured in the same run (one block that a busy neighbour
// slowed does not decide), only goals whose measurement ran, and one overall
// verdict that never calls a goal met that was not measured.
#ifndef LORVEX_BENCH_VERDICT_H
#define LORVEX_BENCH_VERDICT_H

#include <algorithm>
#include <string>
#include <vector>

namespace verdict {

// The median of `values`, 0 for none (the mean of the two middle ones for an
// even count).
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Goal
{
    std::string name;
    double limit = 0;           // the value the median must not exceed
    std::vector<double> blocks; // one value per block; empty: the goal's case did not run
    bool ran() const { return !blocks.empty(); }
    double value() const { return median(blocks); }
    bool met() const { return ran() && value() <= limit; }
    // "met", "NOT MET" or "not run", for the summary's goal column.
    const char* text() const { return !ran() ? "not run" : met() ? "met" : "NOT MET"; }
};

enum class Overall { Met, NotMet, NothingRan };

// Only goals that ran are judged.
inline Overall overall(const std::vector<Goal>& goals)
{
    bool any = false;
    for (const Goal& g : goals) {
        if (!g.ran())
            continue;
        any = true;
        if (!g.met())
            return Overall::NotMet;
    }
    return any ? Overall::Met : Overall::NothingRan;
}

// The summary's last line, and the exit status: 2 when a goal that ran was
// not met, else 0.
inline const char* overallText(Overall o)
{
    return o == Overall::Met ? "every goal that ran met"
           : o == Overall::NotMet ? "a goal NOT met"
                                  : "no goal judged: none of their cases ran";
}
inline int exitStatus(Overall o)
{
    return o == Overall::NotMet ? 2 : 0;
}

// Splits `samples` (in the order taken) into `blocks` blocks of equal length
// and gives `f` of each (a median, a ratio of medians ...).
template <class F>
std::vector<double> perBlock(size_t count, size_t blocks, F f)
{
    std::vector<double> out;
    if (count == 0 || blocks == 0)
        return out;
    blocks = std::min(blocks, count);
    const size_t size = count / blocks;
    for (size_t b = 0; b < blocks; ++b)
        out.push_back(f(b * size, b + 1 == blocks ? count : (b + 1) * size));
    return out;
}

} // namespace verdict

#endif
