#include "ChildMeasure.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/// A "Name:   value kB" line of /proc/self/status, in kilobytes; -1 when absent.
long StatusKilobytes(const char* field)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0)
            value = std::strtol(line + length, nullptr, 10);
    std::fclose(status);
    return value;
}

} // namespace

Measurement MeasureInChild(const std::function<void()>& work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        // Reset the high-water mark to the current resident set (Linux 4.0 and later).
        if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        const long before = StatusKilobytes("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peak = StatusKilobytes("VmHWM:");
        const Measurement result{seconds, double(peak - before) * 1024.0};
        const ssize_t written = write(channel[1], &result, sizeof result);
        _exit(written == ssize_t(sizeof result) ? 0 : 1);
    }
    close(channel[1]);
    Measurement result;
    const ssize_t got = read(channel[0], &result, sizeof result);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != ssize_t(sizeof result) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return result;
}
