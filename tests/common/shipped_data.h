// The data the build generates and the game ships: where it is, and reading
// its sounds.
#pragma once

#include <filesystem>

namespace test {

inline const std::filesystem::path data_dir = std::filesystem::path(QUORLA_DATA_ROOT) / "quorla";

// The length in seconds of a WAV file, or a negative number when it does not load.
double wav_seconds(const std::filesystem::path& path);

}  // namespace test
