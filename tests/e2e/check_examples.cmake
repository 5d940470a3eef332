# Captures the WebSocket examples again (CAPTURE writes OUTPUT) and fails when COMMITTED differs; UPDATE names the
# target that rewrites COMMITTED (the examples' unless given).
if(NOT UPDATE)
    set(UPDATE update_websocket_examples)
endif()
execute_process(COMMAND ${CAPTURE} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${CAPTURE} failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMMITTED} RESULT_VARIABLE differs)
if(differs)
    find_program(DIFF diff)
    if(DIFF)
        execute_process(COMMAND ${DIFF} -u ${COMMITTED} ${OUTPUT})
    endif()
    message(FATAL_ERROR "${COMMITTED} is not what the application makes now (new one: ${OUTPUT}).\n"
                        "Regenerate it: cmake --build build --target ${UPDATE}")
endif()
