# Writes OUT, a header defining QUORLA_REVISION: the git revision of SOURCE_DIR as
# 40 lower-case hex digits, or 40 zeros outside a git checkout. Run at every build,
# so a commit made after configuring still shows; the header is rewritten only
# when the revision changes, so nothing recompiles otherwise.
# Usage: cmake -DSOURCE_DIR=... -DOUT=... -P revision.cmake
set(revision "0000000000000000000000000000000000000000")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
    WORKING_DIRECTORY ${SOURCE_DIR}
    OUTPUT_VARIABLE git_rev OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_result ERROR_QUIET)
  string(LENGTH "${git_rev}" git_rev_length)
  if(git_result EQUAL 0 AND git_rev_length EQUAL 40 AND git_rev MATCHES "^[0-9a-f]+$")
    set(revision ${git_rev})
  endif()
endif()

set(text "#define QUORLA_REVISION \"${revision}\"\n")
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
