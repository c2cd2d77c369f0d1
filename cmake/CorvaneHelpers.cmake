# Shared helpers for the per-directory CMakeLists files.

# GoogleTest is always compiled from Debian's sources so that the cross build
# and the sanitizer builds get a library built with the same flags as the tests.
macro(corvane_add_googletest)
  set(CORVANE_GTEST_SRC "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  if(NOT EXISTS "${CORVANE_GTEST_SRC}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${CORVANE_GTEST_SRC} (apt-get install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory("${CORVANE_GTEST_SRC}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endmacro()

# Every build tree gets its own Wine prefix (so its own wineserver, named
# objects and registry) and its own runtime folder for the Linux
# single-instance lock: two build trees never see each other's program.
set(CORVANE_TEST_ENVIRONMENT "XDG_RUNTIME_DIR=${PROJECT_BINARY_DIR}/test-runtime")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(APPEND CORVANE_TEST_ENVIRONMENT "WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix")
endif()
file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/test-runtime")

# corvane_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
# One executable and one CTest entry per suite: every Wine start costs a second,
# so the Windows build must not start one process per test case.
function(corvane_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} corvane_testsupport GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS unit
    ENVIRONMENT "${CORVANE_TEST_ENVIRONMENT}")
endfunction()

# corvane_add_script_test(NAME <name> SCRIPT <file> ARGS <args...>)
# Process-level tests: a bash script drives the real executable (through Wine
# in the Windows build; CORVANE_RUNNER holds the emulator command or is empty).
function(corvane_add_script_test)
  cmake_parse_arguments(T "" "NAME;SCRIPT;TIMEOUT" "ARGS" ${ARGN})
  set(runner "")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(runner "${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  add_test(NAME ${T_NAME} COMMAND bash "${T_SCRIPT}" ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Runs of the real program share the single-instance marker: one at a time.
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS process
    RESOURCE_LOCK corvane_program
    ENVIRONMENT "${CORVANE_TEST_ENVIRONMENT};CORVANE_RUNNER=${runner};CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};CORVANE_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
