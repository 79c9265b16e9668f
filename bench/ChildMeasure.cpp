#include "ChildMeasure.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

Measurement MeasureProcess(const QStringList& command)
{
    std::vector<std::string> words;
    for (const QString& word : command)
        words.push_back(word.toStdString());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The child's own peak is read from its status as it is about to exit (it stops there for
    // us, traced): the peak the system reports for a finished child also counts the memory of
    // the process it was started from, a benchmark that holds whole maps.
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
        return {};
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    long peakKilobytes = -1;
    int status = 0;
    while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
        int forward = 0;
        const int event = status >> 16;
        if (WSTOPSIG(status) == SIGTRAP && event == 0 && peakKilobytes < 0) {
            // Stopped after exec: from now on stop at the exit too, and see a further exec (the
            // launcher starting the tool) as such, not as a signal for the program.
            ptrace(PTRACE_SETOPTIONS, child, nullptr,
                   reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
            peakKilobytes = 0;
        } else if (event == PTRACE_EVENT_EXIT) {
            const std::string path = "/proc/" + std::to_string(child) + "/status";
            if (FILE* file = std::fopen(path.c_str(), "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, file))
                    if (std::strncmp(line, "VmHWM:", 6) == 0)
                        peakKilobytes = std::strtol(line + 6, nullptr, 10);
                std::fclose(file);
            }
        } else if (event == 0) {
            forward = WSTOPSIG(status); // a signal for the program itself
        }
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<long>(forward)));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            double(std::max(peakKilobytes, 0L)) * 1024.0};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}
