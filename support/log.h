// The platform's log in the application category, for code that doesn't include SDL.
#pragma once

namespace kesp {

void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The platform's text for the last error it or this library ran into (SDL_GetError).
const char* platform_error();

}  // namespace kesp
