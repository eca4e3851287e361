// Alternating paired runs of our code and a peer, and their medians.
#pragma once

#include "timed_process.h"

#include <functional>
#include <string>
#include <vector>

namespace pellatrix::bench {

struct PairedResult {
    std::vector<double> ours;      // seconds, one per round
    std::vector<double> peer;      // seconds, one per round
    std::vector<double> ratios;    // ours / peer, one per round
    std::vector<double> cpuRatios; // the same for user + system time
    long oursPeakKiB = 0;          // the largest over the rounds
    long peerPeakKiB = 0;
    double oursMedian() const;
    double peerMedian() const;
    double ratioMedian() const;
    double cpuRatioMedian() const;
};

struct Contender {
    std::function<void()> prepare; // untimed, before every run (e.g. remove the last copy)
    std::function<RunResult()> run;
};

// Runs ours and peer `rounds` times each, alternating which goes first, after one untimed
// warm-up run of each. Throws when a run fails.
PairedResult runPaired(const Contender& ours, const Contender& peer, int rounds);

double median(std::vector<double> values);

} // namespace pellatrix::bench
