#include "common/log_record.h"

#include <algorithm>

namespace test {

Log_record::Log_record() {
    SDL_LogGetOutputFunction(&old, &old_data);
    SDL_LogSetOutputFunction(record, this);
}

Log_record::~Log_record() { SDL_LogSetOutputFunction(old, old_data); }

void Log_record::record(void* self, int category, SDL_LogPriority priority, const char* message) {
    auto* r = static_cast<Log_record*>(self);
    if (priority >= SDL_LOG_PRIORITY_WARN) r->lines.emplace_back(message);
    if (priority >= SDL_LOG_PRIORITY_ERROR) r->error_lines.emplace_back(message);
    if (r->old) r->old(r->old_data, category, priority, message);
}

int Log_record::errors(const std::string& text) const {
    return static_cast<int>(std::count(error_lines.begin(), error_lines.end(), text));
}

}  // namespace test
