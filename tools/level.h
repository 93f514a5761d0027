// A map written as text blocks of characters with a legend, turned into a Tiled
// JSON map with one embedded tileset, a plain tile layer and object layers.
#pragma once

#include <filesystem>
#include <string>

namespace tools {

// Reads the layout and writes the map; the tileset's art source is named by the layout.
void build_level(const std::filesystem::path& layout, const std::filesystem::path& out);

}  // namespace tools
