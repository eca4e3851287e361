// Paired runs: in round i ours runs first when i is even and second when it is odd, so that
// neither side always finds the caches the other just warmed.
#include "paired_runs.h"

#include <algorithm>
#include <stdexcept>

namespace pellatrix::bench {
namespace {

RunResult timedRun(const Contender& contender, const char* who) {
    if (contender.prepare)
        contender.prepare();
    const RunResult result = contender.run();
    if (!result.ok)
        throw std::runtime_error(std::string(who) + " run failed");
    return result;
}

} // namespace

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double PairedResult::oursMedian() const {
    return median(ours);
}
double PairedResult::peerMedian() const {
    return median(peer);
}
double PairedResult::ratioMedian() const {
    return median(ratios);
}
double PairedResult::cpuRatioMedian() const {
    return median(cpuRatios);
}

PairedResult runPaired(const Contender& ours, const Contender& peer, int rounds) {
    timedRun(ours, "our");
    timedRun(peer, "peer");
    PairedResult result;
    for (int round = 0; round < rounds; ++round) {
        RunResult mine, theirs;
        if (round % 2 == 0) {
            mine = timedRun(ours, "our");
            theirs = timedRun(peer, "peer");
        } else {
            theirs = timedRun(peer, "peer");
            mine = timedRun(ours, "our");
        }
        result.ours.push_back(mine.seconds);
        result.peer.push_back(theirs.seconds);
        result.ratios.push_back(mine.seconds / theirs.seconds);
        result.cpuRatios.push_back(mine.cpuSeconds / theirs.cpuSeconds);
        result.oursPeakKiB = std::max(result.oursPeakKiB, mine.peakKiB);
        result.peerPeakKiB = std::max(result.peerPeakKiB, theirs.peakKiB);
    }
    return result;
}

} // namespace pellatrix::bench
