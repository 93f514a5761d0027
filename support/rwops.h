// SDL streams over bytes in memory, so that the decoders and encoders of the
// platform never open a file by name: the bytes come from and go to the file
// service.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

struct SDL_RWops;

namespace kesp {

// The file's bytes, read with kesp::read_file, for a decoder of the platform;
// false, with the reason in the platform's error text, when it can't be read
// or doesn't fit in memory.
bool read_bytes(const std::filesystem::path& file, std::size_t limit, std::string& bytes);

// What follows the last dot of the file's name, which the platform's loaders
// take for the file's type when they open it by name; empty without a dot.
std::string type_of(const std::filesystem::path& file);

// A stream that reads bytes, which must outlive it; empty bytes are an empty
// stream. A read of more than is left passes what is left, as a file's does,
// and counts the whole items in it. Closing it frees the stream alone. Null,
// with the platform's error, when it can't be made.
SDL_RWops* rw_from_bytes(std::string_view bytes);

// A stream whose writes land in out, which must outlive it; it starts at the
// end of out. Null, with the platform's error, when it can't be made.
SDL_RWops* rw_to_string(std::string& out);

}  // namespace kesp
