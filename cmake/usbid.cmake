# korvel_usb_id(NAME VALUE OUT): checks one USB id given as a build option and sets OUT to its four lower-case hex
# digits. Accepts what lsusb prints ("4b43") with or without "0x"; stops the configuration on anything else.
function(korvel_usb_id name value out)
    set(hex "[0-9a-fA-F]")
    if(NOT value MATCHES "^(0[xX])?(${hex}${hex}${hex}${hex})$")
        message(FATAL_ERROR "${name} is \"${value}\": give four hex digits, as lsusb shows them (for example 1209)")
    endif()
    string(TOLOWER "${CMAKE_MATCH_2}" digits)
    # The device link refuses an id of 0, so such a build would never open the console.
    if(digits STREQUAL "0000")
        message(FATAL_ERROR "${name} is 0: the console cannot be opened with an id of 0")
    endif()
    set(${out} "${digits}" PARENT_SCOPE)
endfunction()
