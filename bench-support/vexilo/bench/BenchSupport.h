#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace vexilo::bench {

// Clips are generated once into this folder below the working directory and reused.
inline std::filesystem::path benchMediaDirectory() {
    const std::filesystem::path directory = std::filesystem::current_path() / "bench-media";
    std::filesystem::create_directories(directory);
    return directory;
}

// Built by appending: GCC 12 reports a false -Wrestrict for `"'" + text + "'"` at -O3.
inline std::string quoted(const std::filesystem::path& path) {
    std::string text(1, '\'');
    text.append(path.string());
    text.push_back('\'');
    return text;
}

// Makes `target` with an ffmpeg command line that writes to the path it is given.
inline bool ensureGenerated(const std::filesystem::path& target, const std::string& ffmpegArguments) {
    if (std::filesystem::exists(target)) {
        return true;
    }
    const std::filesystem::path partial = target.string() + ".tmp";
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostdin -y " + ffmpegArguments + " " + quoted(partial);
    std::printf("generating %s\n", target.filename().c_str());
    std::fflush(stdout);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return false;
    }
    std::filesystem::rename(partial, target);
    return true;
}

inline double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of a few runs, so that one disturbed run does not decide the figure.
inline double bestSecondsOf(int runs, const std::function<void()>& work) {
    double best = secondsOf(work);
    for (int run = 1; run < runs; ++run) {
        best = std::min(best, secondsOf(work));
    }
    return best;
}

inline bool runQuietly(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

inline double secondsOf(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

inline double userSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return secondsOf(usage.ru_utime);
}

inline double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
}

// User and system CPU time of a child command and of work in this process: on a shared
// machine these vary far less than wall-clock time.
inline double childCpuSecondsOf(const std::string& command, bool& failed) {
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    failed = !runQuietly(command) || failed;
    return cpuSeconds(RUSAGE_CHILDREN) - before;
}

inline double ownCpuSecondsOf(const std::function<void()>& work) {
    const double before = cpuSeconds(RUSAGE_SELF);
    work();
    return cpuSeconds(RUSAGE_SELF) - before;
}

// The calling thread's alone, kernel time included, while other threads of this process work.
inline double threadCpuSecondsOf(const std::function<void()>& work) {
    const double before = cpuSeconds(RUSAGE_THREAD);
    work();
    return cpuSeconds(RUSAGE_THREAD) - before;
}

// User CPU time of a child command: the work of filters, without the kernel's page-fault
// and I/O time, which this shared machine makes noisy.
inline double childUserSecondsOf(const std::string& command, bool& failed) {
    const double before = userSeconds(RUSAGE_CHILDREN);
    failed = !runQuietly(command) || failed;
    return userSeconds(RUSAGE_CHILDREN) - before;
}

// User CPU time of work done in this process.
inline double ownUserSecondsOf(const std::function<void()>& work) {
    const double before = userSeconds(RUSAGE_SELF);
    work();
    return userSeconds(RUSAGE_SELF) - before;
}

inline double bestOf(int runs, const std::function<double()>& measure) {
    double best = measure();
    for (int run = 1; run < runs; ++run) {
        best = std::min(best, measure());
    }
    return best;
}

// CPU time of `ffmpeg -threads 1 -i clip -f null -`, best of `runs`: the reference the
// decoding benchmarks are measured against.
inline double ffmpegDecodeCpuSeconds(const std::filesystem::path& clip, int runs, bool& failed) {
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " + quoted(clip) + " -f null -";
    return bestOf(runs, [&] { return childCpuSecondsOf(command, failed); });
}

}  // namespace vexilo::bench
