# The step that lays the database beside the programs must never replace one
# that is there: it holds the user's configuration.
set(dir "${WORK}/keeps_database")
file(REMOVE_RECURSE "${dir}")
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${dir}/template.mdb" "empty")

set(SOURCE "${dir}/template.mdb")
set(TARGET "${dir}/bin/corvale.mdb")
include("${SCRIPT}")
file(READ "${TARGET}" laid)
if(NOT laid STREQUAL "empty")
    message(FATAL_ERROR "no database was laid where there was none")
endif()

file(WRITE "${TARGET}" "the user's configuration")
include("${SCRIPT}")
file(READ "${TARGET}" kept)
if(NOT kept STREQUAL "the user's configuration")
    message(FATAL_ERROR "an existing database was replaced")
endif()
file(REMOVE_RECURSE "${dir}")
