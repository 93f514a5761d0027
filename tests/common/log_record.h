// What the platform's log receives while a test runs.
#pragma once

#include <SDL_log.h>

#include <string>
#include <vector>

namespace test {

// While it lives, every warning and error logged is kept, and every message
// still reaches the log's previous output, so test runs show them as usual.
class Log_record {
public:
    Log_record();
    ~Log_record();
    Log_record(const Log_record&) = delete;
    Log_record& operator=(const Log_record&) = delete;

    // The warnings and errors so far, in order.
    const std::vector<std::string>& problems() const { return lines; }

    // How often text was logged as an error.
    int errors(const std::string& text) const;

private:
    static void record(void* self, int category, SDL_LogPriority priority, const char* message);

    SDL_LogOutputFunction old = nullptr;
    void* old_data = nullptr;
    std::vector<std::string> lines;
    std::vector<std::string> error_lines;
};

}  // namespace test
