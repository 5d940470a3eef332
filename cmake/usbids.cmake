# The console's USB vendor and product id, set once as build options: the header the code includes and the udev
# rule the package installs are both generated from them, so a build for a console with other ids stays whole.
include(${CMAKE_CURRENT_LIST_DIR}/usbid.cmake)

set(KORVEL_USB_VENDOR_ID "1209" CACHE STRING "USB vendor id of the console: four hex digits, as lsusb shows them")
set(KORVEL_USB_PRODUCT_ID "4b43" CACHE STRING "USB product id of the console: four hex digits, as lsusb shows them")

korvel_usb_id(KORVEL_USB_VENDOR_ID "${KORVEL_USB_VENDOR_ID}" KORVEL_USB_VENDOR_HEX)
korvel_usb_id(KORVEL_USB_PRODUCT_ID "${KORVEL_USB_PRODUCT_ID}" KORVEL_USB_PRODUCT_HEX)
# AppStream's modalias names the device in upper-case hex.
string(TOUPPER "${KORVEL_USB_VENDOR_HEX}" KORVEL_USB_VENDOR_HEX_UPPER)
string(TOUPPER "${KORVEL_USB_PRODUCT_HEX}" KORVEL_USB_PRODUCT_HEX_UPPER)

set(KORVEL_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/usb/usbids.h.in ${KORVEL_GENERATED_DIR}/usb/usbids.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/udev/70-korvel-control.rules.in
    ${KORVEL_GENERATED_DIR}/udev/70-korvel-control.rules @ONLY)
