// A map written as text blocks of characters with a legend, turned into a Tiled
// JSON map with one embedded tileset, a plain tile layer and object layers.
// A layout holds, line by line (positions and sizes in tiles unless noted):
//   title <text>; music <path from the map>; size <w> <h>; fill <char>
//   tileset <art source> <sheet file> <image path from the map>
//   legend <char> <tile>[*weight]... [top=<tile>] [bottom=<tile>] [shade=<tile>]
//   stamp <char> <w>x<h> <tile>... [on=<char>]   a picture from its top-left cell
//   mob <char> <type> <w>x<h pixels> [on=<char>] [anchor=bottom|top|center] [name=]
//   run <char> <type> [inset=<pixels>]           each run along a row is a place
//   block <x> <y> ... end                        rows of characters pasted there
//   room <x> <y> <w> <h>; place <type> <name> <x> <y> <w> <h>
// Places keep the order written, then marks row by row, then runs.
#pragma once

#include <filesystem>
#include <string>

namespace tools {

// Reads the layout and writes the map; the tileset's art source is named by the layout.
void build_level(const std::filesystem::path& layout, const std::filesystem::path& out);

}  // namespace tools
