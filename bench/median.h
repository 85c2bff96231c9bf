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
