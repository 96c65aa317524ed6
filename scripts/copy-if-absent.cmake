# Copies SOURCE to TARGET unless TARGET exists: the database there is the user's.
if(EXISTS "${TARGET}")
    return()
endif()
get_filename_component(dir "${TARGET}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(COPY_FILE "${SOURCE}" "${TARGET}")
message(STATUS "Laid an empty database: ${TARGET}")
