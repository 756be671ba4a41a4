// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up cost of tarvik-connect against a minimal Qt Widgets program with
// one QMainWindow: wall time from process start until the main window is
// painted once, and peak resident memory; offscreen, median of 10 runs each.
// Both programs are the real sources plus a probe that reports the first
// paint and quits.
//
// Prints, last:  startup_time_ratio=  startup_rss_ratio=
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 10;
constexpr int kPrograms = 4;

long long nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Sample {
    double ms = 0;
    double rssKiB = 0;
    bool ok = false;
};

Sample runOnce(const std::string &program)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    const long long start = nowNs();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Sample sample;
    const size_t at = text.find("painted ");
    if (at != std::string::npos && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        sample.ms = double(std::stoll(text.substr(at + 8)) - start) / 1e6;
        sample.rssKiB = double(usage.ru_maxrss);
        sample.ok = true;
    }
    return sample;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int, char **argv)
{
    std::string dir = argv[0];
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    // The last two are for context only. A main window with one label pays
    // the font set-up (fontconfig) that any window showing text pays; the
    // bare form (same libraries, same widgets and lamps, none of the timers,
    // serial port, network manager and hidden windows) shows what those add.
    const std::string programs[kPrograms] = {dir + "bench_startup_tarvik", dir + "bench_startup_minimal",
                                             dir + "bench_startup_minimal_text", dir + "bench_startup_form"};
    std::vector<double> times[kPrograms], rss[kPrograms];
    // Alternate them so that caches and load treat them alike.
    for (int run = 0; run < kRuns + 1; ++run) {
        for (int p = 0; p < kPrograms; ++p) {
            const Sample s = runOnce(programs[p]);
            if (!s.ok) {
                std::fprintf(stderr, "%s did not start and paint\n", programs[p].c_str());
                return 1;
            }
            if (run == 0)
                continue; // warm-up
            times[p].push_back(s.ms);
            rss[p].push_back(s.rssKiB);
        }
    }
    double t[kPrograms], r[kPrograms];
    for (int p = 0; p < kPrograms; ++p) {
        t[p] = median(times[p]);
        r[p] = median(rss[p]);
    }
    std::printf("tarvik-connect: %.1f ms, %.0f KiB peak; minimal QMainWindow: %.1f ms, %.0f KiB peak\n", t[0], r[0],
                t[1], r[1]);
    std::printf("for context, a QMainWindow with one label: %.1f ms, %.0f KiB peak (ratios %.3f and %.3f)\n", t[2],
                r[2], t[0] / t[2], r[0] / r[2]);
    std::printf("for context, the bare main-window form: %.1f ms, %.0f KiB peak (ratios %.3f and %.3f)\n", t[3], r[3],
                t[0] / t[3], r[0] / r[3]);
    std::printf("startup_time_ratio=%.3f\n", t[0] / t[1]);
    std::printf("startup_rss_ratio=%.3f\n", r[0] / r[1]);
    return 0;
}
