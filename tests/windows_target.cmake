# The tests of a tree cross-compiled for Windows. GoogleTest runs natively,
# so the black-box suite is built by a native build of this same source tree
# inside this one, told where the Windows executable and the suite's Windows
# programs are; it runs them under Wine, and ctest here runs its tests.

# The suite's own Windows programs.
add_executable(hold_file support/hold_file.cpp)
add_executable(list_resources support/list_resources.cpp)
foreach(helper hold_file list_resources)
  target_compile_features(${helper} PRIVATE cxx_std_20)
  target_compile_definitions(${helper} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

include(ExternalProject)
set(native_dir ${CMAKE_CURRENT_BINARY_DIR}/native)
ExternalProject_Add(native_tests
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${native_dir}
  # No toolchain file: the runner is built for this machine, with the same
  # warnings as the rest.
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Debug
    -DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}
    -DVELMORANE_WINDOWS_EXE=$<TARGET_FILE:velmorane>
    -DVELMORANE_WINDOWS_HELPERS=$<TARGET_FILE_DIR:hold_file>
  # Its own make, not a share of this one's jobs.
  BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS ${CMAKE_COMMAND} --build ${native_dir} --target cli_tests
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS velmorane hold_file list_resources
)

# The native build lists its tests when it is built; until then ctest shows
# that it is missing.
set(native_tests_file ${native_dir}/tests/CTestTestfile.cmake)
file(CONFIGURE OUTPUT native_tests.cmake CONTENT [[
if(EXISTS "@native_tests_file@")
  include("@native_tests_file@")
else()
  add_test(native_tests_NOT_BUILT native_tests_NOT_BUILT)
endif()
]] @ONLY)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/native_tests.cmake)
