# The console's USB id build options: which values are taken and how they are written, which stop the
# configuration, and whether the generated header and udev rule carry the ids of this build.
# Run as: cmake -DGENERATED=<dir> -DVENDOR=<hex> -DPRODUCT=<hex> -P usbids_test.cmake
cmake_minimum_required(VERSION 3.25)
if(DEFINED PROBE)
    # One value through the check, in a cmake of its own, since a refused value ends the run.
    include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/usbid.cmake)
    korvel_usb_id(KORVEL_USB_VENDOR_ID "${PROBE}" digits)
    message("digits=${digits}")
    return()
endif()

set(failures 0)
function(failed what)
    message(SEND_ERROR "${what}")
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
endfunction()

# value|expected digits, or "refused"
set(rows
    "1209|1209" "4b43|4b43" "4B43|4b43" "0x4B43|4b43" "0X1209|1209" "0x0001|0001" "ffff|ffff"
    "0000|refused" "0x0000|refused" "123|refused" "12345|refused" "0x|refused" "|refused" "12g4|refused"
    "0x12 4|refused" " 1209|refused" "-123|refused" "0b1010|refused" "12\;34|refused")
foreach(row IN LISTS rows)
    string(FIND "${row}" "|" bar)
    string(SUBSTRING "${row}" 0 ${bar} value)
    math(EXPR bar "${bar} + 1")
    string(SUBSTRING "${row}" ${bar} -1 expected)
    execute_process(COMMAND ${CMAKE_COMMAND} "-DPROBE=${value}" -P ${CMAKE_CURRENT_LIST_FILE}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(expected STREQUAL "refused")
        if(status EQUAL 0)
            failed("\"${value}\" was taken: ${err}")
        elseif(NOT err MATCHES "KORVEL_USB_VENDOR_ID is")
            failed("\"${value}\" was refused without naming the option: ${err}")
        endif()
    elseif(NOT status EQUAL 0)
        failed("\"${value}\" was refused: ${err}")
    elseif(NOT err STREQUAL "digits=${expected}\n")
        failed("\"${value}\" gave ${err}, expected digits=${expected}")
    endif()
endforeach()

# The generated files carry this build's ids, as the code and udev read them.
file(READ ${GENERATED}/usb/usbids.h header)
if(NOT header MATCHES "vendor_id = 0x${VENDOR};")
    failed("usbids.h lacks vendor id 0x${VENDOR}")
endif()
if(NOT header MATCHES "product_id = 0x${PRODUCT};")
    failed("usbids.h lacks product id 0x${PRODUCT}")
endif()
file(STRINGS ${GENERATED}/udev/70-korvel-control.rules rules REGEX "^[^#]")
set(expected_rule
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"${VENDOR}\", ATTRS{idProduct}==\"${PRODUCT}\", TAG+=\"uaccess\"")
if(NOT rules STREQUAL expected_rule)
    failed("the udev rules are\n${rules}\nexpected the one rule\n${expected_rule}")
endif()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} checks failed")
endif()
message("all usb id checks passed")
