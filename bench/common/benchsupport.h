#pragma once

// What the benchmarks share: running a client as a child process, taking the
// median of several runs, reading the process's own memory figures, and
// printing "name: value unit" and "target NAME: measured vs goal" lines.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

constexpr double kMB = 1000.0 * 1000.0;
constexpr double kMiB = 1024.0 * 1024.0;

struct Run
{
    bool ok = false;
    double seconds = 0;   // wall time from start to exit
    double peakMiB = 0;   // the child's resident high-water mark (wait4)
    QByteArray output;    // what it wrote to its standard output
};

// Runs a program (arguments[0], a path) to its end. Children are started with
// fork and exec: a child made by posix_spawn or vfork shares this process's
// memory until its exec and would report this process's high-water mark as
// its own.
inline Run runChild(const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    for (const QString &a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    Run run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, n);
    close(out[0]);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.peakMiB = double(usage.ru_maxrss) * 1024.0 / kMiB;  // ru_maxrss is in KiB
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The run of median wall time among several, with the highest peak seen: one
// run alone says more about what else the machine was doing. A failed run, if
// any, is returned instead.
inline Run medianRun(std::vector<Run> runs)
{
    double peak = 0;
    for (const Run &r : runs) {
        if (!r.ok)
            return r;
        peak = std::max(peak, r.peakMiB);
    }
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    Run median = runs[runs.size() / 2];
    median.peakMiB = peak;
    return median;
}

// A line of this process's /proc/self/status ("VmRSS:", "VmHWM:"), in MiB.
inline double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

inline void print(const QString &name, double value, const char *unit)
{
    std::printf("%s: %.3f %s\n", qPrintable(name), value, unit);
    std::fflush(stdout);
}

inline void printTarget(const char *name, double measured, const char *relation, double goal, bool met)
{
    std::printf("target %s: %.3f vs %s %.3f (%s)\n", name, measured, relation, goal, met ? "met" : "missed");
    std::fflush(stdout);
}

} // namespace bench
