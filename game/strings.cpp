#include "game/strings.h"

#include "support/static_order.h"

#include "revision.h"  // written by the build: QUORLA_REVISION

KESP_STATIC_ORDER(3) const std::filesystem::path basedir("quorla");
const char* const str_version = "1.0.0";
const char* const str_revision = QUORLA_REVISION;
