#include "game/conf.h"
#include "game/game.h"
#include "game/strings.h"
#include "support/media.h"
#include "support/paths.h"

#include <SDL_log.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

std::filesystem::path parse_options(int argc, char** argv) {
    static const char str_usage[] = "Usage: %s [-h] [-v] [PATH]\n\n";
    static const char str_options[] =
        "Options:\n"
        "  -h    Display this information and exit.\n"
        "  -v    Display version string and exit.\n"
        "\n";

    for (int opt; (opt = getopt(argc, argv, "hv")) != -1;) {
        switch (opt) {
        case 'v':
            std::printf("%s\n", str_version);
            std::exit(0);
        case 'h':
            std::printf(str_usage, argv[0]);
            std::printf("%s", str_options);
            std::exit(0);
        default:
            std::fprintf(stderr, str_usage, argv[0]);
            std::exit(-1);
        }
    }
    SDL_Log("Quorla %s\n", str_revision);

    switch (argc - optind) {
    case 0:
        return kesp::paths.data.r(basedir / "level/princess.tmj");
    case 1:
        return argv[optind];
    default:
        std::fprintf(stderr, str_usage, argv[0]);
        std::exit(-1);
    }
}

int run(int argc, char** argv) {
    std::filesystem::path map = parse_options(argc, argv);
    conf_load();
    bool played = false;
    {
        kesp::Media_lock media("Quorla");
        if (media) {
            play(map);
            played = true;
        }
    }
    const bool saved = conf_save();
    return played && saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // An error ends the game with its message instead of an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorla: %s\n", e.what());
        return 1;
    }
}
