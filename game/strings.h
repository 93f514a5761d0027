// The game's folder name and version texts.
#pragma once

#include <filesystem>

// Put in front of every relative path the game hands to the directory scheme.
extern const std::filesystem::path basedir;
extern const char* const str_version;
// The source revision the program was built from, 40 hexadecimal digits.
extern const char* const str_revision;
