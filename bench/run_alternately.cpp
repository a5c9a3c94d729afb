// Runs two commands alternately ROUNDS times and prints, on one line, the
// median wall time of each in milliseconds, their ratio (second / first) and
// the peak resident memory of each in KiB. Running them in turns spreads the
// machine's noise over both alike.
// Usage: run_alternately ROUNDS "FIRST COMMAND" "SECOND COMMAND"
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double milliseconds;
    long peak_kib;
};

Sample run_once(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> argv_strings;
    for (std::string word; words >> word;) argv_strings.push_back(word);
    std::vector<char*> argv;
    for (auto& word : argv_strings) argv.push_back(word.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {-1, 0};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto stop = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::milli>(stop - start).count(), usage.ru_maxrss};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) return 2;
    const int rounds = std::stoi(argv[1]);
    std::vector<double> first, second;
    long first_peak = 0, second_peak = 0;
    for (int round = 0; round < rounds; ++round) {
        const Sample a = run_once(argv[2]);
        const Sample b = run_once(argv[3]);
        first.push_back(a.milliseconds);
        second.push_back(b.milliseconds);
        first_peak = std::max(first_peak, a.peak_kib);
        second_peak = std::max(second_peak, b.peak_kib);
    }
    std::printf("%.2f %.2f %.2f %ld %ld\n", median(first), median(second), median(second) / median(first), first_peak,
                second_peak);
    return 0;
}
