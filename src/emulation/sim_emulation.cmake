# The simulator emulator: a scriptable simulator with a MobiFlight module.
# Any transport can put the SimConnect functions in front of it:
# EmulatorLibrary (emulator_library.h) in-process for the tests and the
# sandbox, the wire front (src/simulator) over the network, and the drop-in
# library below for process-level tests of the real program.
set(sim_emulator_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/sim_emulator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mobiflight_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sim_event_names.cpp)

# The console rows the sandbox and the standalone simulator share.
add_library(corvane_sim_emulator_core STATIC ${sim_emulator_core_sources}
  ${CMAKE_CURRENT_LIST_DIR}/sim_console_commands.cpp)
target_link_libraries(corvane_sim_emulator_core PUBLIC corvane_common)
target_include_directories(corvane_sim_emulator_core PUBLIC ${PROJECT_SOURCE_DIR}/src)

# Drop-in replacement for the SDK's library, exporting the same plain names:
# SimConnect.dll on Windows, libSimConnect.so on Linux, each in its own
# folder (<build>/emulator) so it never shadows the real one by accident.
# It compiles its few dependencies itself, as position-independent code.
add_library(simconnect_emulator SHARED ${sim_emulator_core_sources}
  ${PROJECT_SOURCE_DIR}/src/sim/simconnect_dropin_exports.cpp
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
