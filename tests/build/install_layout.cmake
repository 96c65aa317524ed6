# The install lays the programs, their modules, the help and an empty database
# into one program folder, keeps a database that is there, and the installed
# engine finds its modules beside itself.
set(prefix "${WORK}/install_layout")
file(REMOVE_RECURSE "${prefix}")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}" OUTPUT_QUIET
                RESULT_VARIABLE installed)
if(NOT installed EQUAL 0)
    message(FATAL_ERROR "the install failed")
endif()
set(folder "${prefix}/lib/corvale")
foreach(file brisken corvale libcorvale_dialogs.so libcorvale_gio.so Help.htm corvale.mdb)
    if(NOT EXISTS "${folder}/${file}")
        message(FATAL_ERROR "the install did not lay ${file}")
    endif()
endforeach()
# The menu entry names the program where this prefix put it.
file(READ "${prefix}/share/applications/corvale.desktop" entry)
if(NOT entry MATCHES "\nExec=\"${folder}/corvale\"\n" OR NOT EXISTS "${prefix}/share/icons/hicolor/64x64/apps/corvale.png")
    message(FATAL_ERROR "no menu entry or icon under the prefix: ${entry}")
endif()

# An empty database, no screen: the engine ends normally, saying only that
# nothing started.
execute_process(COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${folder}/brisken"
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT errors MATCHES "^brisken: [^\n]*: nothing started\n$")
    message(FATAL_ERROR "the installed engine ended with ${status}: ${errors}")
endif()

# Without a database it says so. With a screen name the module beside the
# program is asked, and it is the module that judges the platform unusable.
file(RENAME "${folder}/corvale.mdb" "${folder}/kept.mdb")
execute_process(COMMAND env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=nonexistent-platform "${folder}/brisken"
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT errors MATCHES "no window platform can be used \\(nonexistent-platform" OR NOT status EQUAL 2)
    message(FATAL_ERROR "the installed engine did not find its window module (${status}): ${errors}")
endif()
file(RENAME "${folder}/kept.mdb" "${folder}/corvale.mdb")

file(WRITE "${folder}/corvale.mdb" "the user's configuration")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}" OUTPUT_QUIET)
file(READ "${folder}/corvale.mdb" kept)
if(NOT kept STREQUAL "the user's configuration")
    message(FATAL_ERROR "the install replaced an existing database")
endif()
file(REMOVE_RECURSE "${prefix}")
