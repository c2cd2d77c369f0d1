# The simulator emulator. The core (a scriptable simulator with a MobiFlight
# module) defines no SimConnect function, so any transport can put them in
# front of it; corvane_sim_emulation binds the SimConnect functions to the
# installed emulator in-process (tests and the sandbox link it); the drop-in
# library does the same for process-level tests of the real program.
set(sim_emulator_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/sim_emulator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mobiflight_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sim_event_names.cpp)

add_library(corvane_sim_emulator_core STATIC ${sim_emulator_core_sources})
target_link_libraries(corvane_sim_emulator_core PUBLIC corvane_common)
target_include_directories(corvane_sim_emulator_core PUBLIC ${PROJECT_SOURCE_DIR}/src)

add_library(corvane_sim_emulation STATIC ${CMAKE_CURRENT_LIST_DIR}/simconnect_exports.cpp)
target_link_libraries(corvane_sim_emulation PUBLIC corvane_sim_emulator_core)

# Drop-in replacement for the SDK's library, exporting the same plain names:
# SimConnect.dll on Windows, libSimConnect.so on Linux, each in its own
# folder (<build>/emulator) so it never shadows the real one by accident.
# It compiles its few dependencies itself, as position-independent code.
add_library(simconnect_emulator SHARED ${sim_emulator_core_sources}
  ${CMAKE_CURRENT_LIST_DIR}/simconnect_exports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sim_emulator_dropin.cpp
  ${PROJECT_SOURCE_DIR}/src/common/clock.cpp
  ${PROJECT_SOURCE_DIR}/src/common/command_table.cpp)
target_include_directories(simconnect_emulator PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(simconnect_emulator PRIVATE Threads::Threads)
set_target_properties(simconnect_emulator PROPERTIES
  OUTPUT_NAME SimConnect
  POSITION_INDEPENDENT_CODE ON
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/emulator
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/emulator
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/emulator)
if(WIN32)
  set_target_properties(simconnect_emulator PROPERTIES PREFIX "")
  target_sources(simconnect_emulator PRIVATE ${PROJECT_SOURCE_DIR}/src/sim/SimConnect.def)
endif()
