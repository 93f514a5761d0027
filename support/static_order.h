// Static objects that depend on each other across sources are built in a fixed
// order: the directory scheme first, then the action table, then the game's own.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KESP_STATIC_ORDER(n) __attribute__((init_priority(200 + (n))))
#else
#define KESP_STATIC_ORDER(n)
#endif
