# The window module takes the error text, and with it the state of the busy
# pointer, from the program that loads it: it holds no copy of the core.
execute_process(COMMAND ${NM} -C ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read the symbols of ${MODULE}")
endif()
foreach(core "corvale::he(" "corvale::setPointerReset" "corvale::Database::" "SqliteConnection")
    string(FIND "${symbols}" "${core}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "${MODULE} holds its own copy of ${core}")
    endif()
endforeach()
