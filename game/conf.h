// The settings file "game.cfg": window, timing and the bindings of the eight actions.
#pragma once

// Gives the eight actions their default bindings.
void conf_init();
// The defaults, then the first "game.cfg" of the configuration directories over
// them. False when no file could be opened.
bool conf_load();
// Writes every setting to "game.cfg" in the user's configuration directory. False
// when the file cannot be opened.
bool conf_save();
