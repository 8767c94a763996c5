# Shared settings for the project's own targets. They are applied per target, so that nothing
# leaks into a project that consumes the installed TesslyKit.

set(TESSLY_WARNING_FLAGS
  "-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor \
-Wold-style-cast -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion -Wformat=2 \
-Wimplicit-fallthrough")

function(tessly_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    separate_arguments(warnings UNIX_COMMAND "${TESSLY_WARNING_FLAGS}")
    target_compile_options(${target} PRIVATE ${warnings})
    if(TESSLY_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# tessly_library(<target>): a folder's library, whose include root is <folder>/include.
function(tessly_library target)
  tessly_warnings(${target})
  target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>")
endfunction()

# tessly_add_tests(<name> SOURCES <files...> LIBS <targets...> [WRAPPER <command...>])
# One test executable per subsystem keeps link time low; every TEST becomes a ctest case, run
# through WRAPPER where one is given.
function(tessly_add_tests name)
  if(NOT TESSLY_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  tessly_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tessly_test_support GTest::gmock GTest::gtest
                                        GTest::gtest_main)
  if(ARG_WRAPPER)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${ARG_WRAPPER}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# tessly_add_bench(<name> SOURCES <files...> LIBS <targets...>)
function(tessly_add_bench name)
  if(NOT TESSLY_BUILD_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  tessly_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
