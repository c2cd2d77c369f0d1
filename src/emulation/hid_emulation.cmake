# The virtual panels: an in-memory HID bus for the tests and the sandbox.
add_library(corvane_hid_emulation STATIC ${CMAKE_CURRENT_LIST_DIR}/virtual_hid_bus.cpp)
target_link_libraries(corvane_hid_emulation PUBLIC corvane_hid corvane_common)
