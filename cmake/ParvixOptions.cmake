# Build options shared by every target of the project: warnings, sanitizers, visibility.

option(PARVIX_BUILD_TESTS "Build the unit and integration tests" ON)
option(PARVIX_BUILD_BENCH "Build the benchmarks" OFF)
option(PARVIX_BUILD_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(PARVIX_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address' (ASan+UBSan) or 'thread'")

# Every target of ours links parvix_options: strict warnings on our code only.
add_library(parvix_options INTERFACE)
target_compile_options(parvix_options INTERFACE -Wall -Wextra -Werror)
target_compile_features(parvix_options INTERFACE cxx_std_20)

if(PARVIX_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(PARVIX_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT PARVIX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PARVIX_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_san)
  target_compile_options(parvix_options INTERFACE ${_san})
  target_link_options(parvix_options INTERFACE ${_san})
endif()

# parvix_test(NAME SOURCES... [LIBS libs...] [LABELS labels...]): one GoogleTest executable,
# registered with CTest test by test.
function(parvix_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE parvix_options GTest::gtest GTest::gtest_main ${T_LIBS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()

# parvix_fuzzer(NAME SOURCES... [LIBS libs...]): one libFuzzer executable.
function(parvix_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES} ${F_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE parvix_options ${F_LIBS})
endfunction()
