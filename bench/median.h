#pragma once

#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <vector>

namespace ondrel::bench {

// Median of repeated runs, in seconds: steadier than the mean on a shared machine.
inline double Median(const std::function<void()>& op, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        op();
        t.push_back(timer.nsecsElapsed() / 1e9);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace ondrel::bench

namespace ondrel::bench {

struct Paired {
    double ours;   // median, seconds
    double floor;  // median, seconds
    double ratio;  // median of the per-pair ratios
};

// Ours and the floor alternated run by run, so a machine that slows down for a
// while slows both sides of a pair alike. `prepare`, untimed, runs before each
// of ours.
inline Paired MedianPairs(const std::function<void()>& ours, const std::function<void()>& floor,
                          int runs, const std::function<void()>& prepare = {}) {
    std::vector<double> a, b, r;
    for (int i = 0; i < runs; ++i) {
        if (prepare) prepare();
        QElapsedTimer timer;
        timer.start();
        ours();
        a.push_back(timer.nsecsElapsed() / 1e9);
        timer.restart();
        floor();
        b.push_back(timer.nsecsElapsed() / 1e9);
        r.push_back(a.back() / b.back());
    }
    for (auto* v : {&a, &b, &r}) std::sort(v->begin(), v->end());
    return {a[a.size() / 2], b[b.size() / 2], r[r.size() / 2]};
}

}  // namespace ondrel::bench
