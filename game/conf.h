// The settings file "game.cfg": window, timing and the bindings of the eight actions.
#pragma once

// Gives the eight actions their default bindings.
void conf_init();
// The defaults, then the first "game.cfg" of the configuration directories over
// them. False when there is none. A file found that is not a regular file, is
// larger than 1 MiB, can't be read or isn't key-value text throws
// std::runtime_error naming it. A window size or frame rate that can't be used
// keeps its default, with a warning.
bool conf_load();
// Writes every setting to "game.cfg" in the user's configuration directory,
// through a temporary file renamed over the old one. False, after logging an
// error naming the file and the reason, when it can't; the old file is then
// left as it was.
bool conf_save();
