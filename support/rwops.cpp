#include "support/rwops.h"

#include "support/files.h"

#include <SDL.h>

#include <cstring>
#include <new>

namespace kesp {

namespace {

// What a stream reads or writes, and where it stands. The platform calls the
// stream from C: nothing here lets an exception out.
struct Bytes {
    std::string_view in;   // a reading stream's bytes
    std::string* out;      // a writing stream's bytes, or null
    std::size_t at = 0;

    std::size_t size() const { return out ? out->size() : in.size(); }
};

Bytes& bytes_of(SDL_RWops* rw) { return *static_cast<Bytes*>(rw->hidden.unknown.data1); }

Sint64 rw_size(SDL_RWops* rw) { return static_cast<Sint64>(bytes_of(rw).size()); }

// As SDL's own memory streams do, a position is held within the bytes.
Sint64 rw_seek(SDL_RWops* rw, Sint64 offset, int whence) {
    Bytes& b = bytes_of(rw);
    const auto size = static_cast<Sint64>(b.size());
    Sint64 base = 0;
    switch (whence) {
    case RW_SEEK_SET: base = 0; break;
    case RW_SEEK_CUR: base = static_cast<Sint64>(b.at); break;
    case RW_SEEK_END: base = size; break;
    default: return SDL_SetError("Unknown value for 'whence'");
    }
    Sint64 to = offset < -base ? 0 : (offset > size - base ? size : base + offset);
    b.at = static_cast<std::size_t>(to);
    return to;
}

// As a file's stream does, a read of more than is left passes the bytes there
// are and counts the whole items among them: decoders that ask for more than a
// file holds, as SDL_image does for the last tile of a GIMP image, use them.
size_t rw_read(SDL_RWops* rw, void* ptr, size_t size, size_t maxnum) {
    Bytes& b = bytes_of(rw);
    if (size == 0 || b.out) return 0;
    const std::size_t left = b.in.size() - b.at;
    const std::size_t n = maxnum > left / size ? left : maxnum * size;
    if (n > 0) std::memcpy(ptr, b.in.data() + b.at, n);
    b.at += n;
    return n / size;
}

size_t rw_write(SDL_RWops* rw, const void* ptr, size_t size, size_t num) {
    Bytes& b = bytes_of(rw);
    if (!b.out) {
        SDL_SetError("Can't write to a read-only stream");
        return 0;
    }
    if (size == 0 || num == 0) return 0;
    if (num > b.out->max_size() / size) {
        SDL_OutOfMemory();
        return 0;
    }
    const std::size_t n = size * num;
    try {
        if (b.at + n > b.out->size()) b.out->resize(b.at + n);
    } catch (const std::exception&) {
        SDL_OutOfMemory();
        return 0;
    }
    std::memcpy(b.out->data() + b.at, ptr, n);
    b.at += n;
    return num;
}

int rw_close(SDL_RWops* rw) {
    delete static_cast<Bytes*>(rw->hidden.unknown.data1);
    SDL_FreeRW(rw);
    return 0;
}

SDL_RWops* make_rw(std::string_view in, std::string* out) {
    auto* bytes = new (std::nothrow) Bytes{in, out, out ? out->size() : 0};
    SDL_RWops* rw = bytes ? SDL_AllocRW() : nullptr;
    if (!rw) {
        delete bytes;
        SDL_OutOfMemory();
        return nullptr;
    }
    rw->size = rw_size;
    rw->seek = rw_seek;
    rw->read = rw_read;
    rw->write = rw_write;
    rw->close = rw_close;
    rw->type = SDL_RWOPS_UNKNOWN;
    rw->hidden.unknown.data1 = bytes;
    return rw;
}

}  // namespace

bool read_bytes(const std::filesystem::path& file, std::size_t limit, std::string& bytes) {
    try {
        bytes = read_file(file, limit);
        return true;
    } catch (const Read_error& e) {
        SDL_SetError("%s", e.what());
    } catch (const std::bad_alloc&) {
        SDL_SetError("not enough memory to load it");
    }
    return false;
}

std::string type_of(const std::filesystem::path& file) {
    // They look for the dot in the whole path, but a type with a slash in it
    // names no format: the file's name alone gives the same.
    const std::string name = file.filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

SDL_RWops* rw_from_bytes(std::string_view bytes) { return make_rw(bytes, nullptr); }

SDL_RWops* rw_to_string(std::string& out) { return make_rw({}, &out); }

}  // namespace kesp
