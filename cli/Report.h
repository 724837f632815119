#pragma once

// What a run tells: a JSON string for machines, a progress line for people.

#include <chrono>
#include <string>

namespace vmk::cli {

// text as a JSON string, quotes included. Bytes that are not UTF-8 (a file
// name may hold any) become U+FFFD, so the output always parses.
std::string JsonString(const std::string& text);

// "count/total, rate, time left" on standard error, redrawn in place at most a
// few times a second. Silent when standard error is not a terminal.
class TProgress {
public:
    explicit TProgress(int total);
    ~TProgress();
    TProgress(const TProgress&) = delete;
    TProgress& operator=(const TProgress&) = delete;

    void Step(int done);
    // Clears the line, so that a message can follow on a clean line.
    void Clear();

private:
    bool shown_;
    bool drawn_ = false;
    int total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace vmk::cli
