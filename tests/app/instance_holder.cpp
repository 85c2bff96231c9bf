// Holds the single-instance lock for the given executable path until killed.
#include <QCoreApplication>
#include <QThread>
#include <cstdio>

#include "core/startup.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ondrel::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    std::puts(instance.TryAcquire() ? "locked" : "refused");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
