// The game object and its frame loop.
#pragma once

#include <filesystem>

// Plays the map until the player leaves.
void play(const std::filesystem::path& map);
