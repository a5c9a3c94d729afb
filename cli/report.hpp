#pragma once
// How a program ends: its exit statuses (palquant's are the opposite of
// palexpand's, as scripts rely on) and its one-line reports on standard output.

#include <cstdio>
#include <string>

namespace cli {

class Reporter {
public:
    constexpr Reporter(int success, int failure) : success_(success), failure_(failure) {}

    int succeed(const std::string& message = {}) const { return report(message, success_); }
    int fail(const std::string& message) const { return report(message, failure_); }
    // A failure reported on standard error instead.
    int fail_on_stderr(const std::string& message) const {
        std::fputs(message.c_str(), stderr);
        return failure_;
    }

private:
    int report(const std::string& message, int status) const {
        std::fputs(message.c_str(), stdout);
        return status;
    }
    int success_, failure_;
};

}  // namespace cli
