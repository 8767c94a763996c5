# cmake -P script run by ctest (exchange.install_and_consume): installs TesslyKit from the current
# build into a scratch prefix, then configures, builds and runs tests/consumer against that prefix
# with the same generator, compiler and flags (sanitizer builds need the sanitizer runtime).
cmake_policy(VERSION 3.25)

foreach(var BUILD_DIR WORK_DIR CONSUMER_DIR SOURCE_DIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "InstallTest.cmake: ${var} is not set")
  endif()
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix "${WORK_DIR}/prefix")
set(consumer_build "${WORK_DIR}/consumer")
file(REMOVE_RECURSE "${WORK_DIR}")

set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
run("cmake --install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
    --component TesslyKit ${config_args})

# The installed package holds the public headers only, and points nowhere into the source tree.
file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
foreach(required include/TesslyKit/TesslyKit.h include/TesslyKit/SharedContainer.h)
  if(NOT required IN_LIST installed)
    message(FATAL_ERROR "not installed: ${required}\ninstalled: ${installed}")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(file MATCHES "(^|/)Container\\.h$|ContainerFiles\\.h$|nlohmann")
    message(FATAL_ERROR "internal file installed: ${file}")
  endif()
  if(file MATCHES "\\.cmake$")
    file(READ "${prefix}/${file}" content)
    string(FIND "${content}" "${SOURCE_DIR}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} refers to the source tree ${SOURCE_DIR}")
    endif()
  endif()
endforeach()

set(configure_args
  -S "${CONSUMER_DIR}" -B "${consumer_build}" -G "${GENERATOR}"
  "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
  "-DCMAKE_PREFIX_PATH=${prefix}"
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(MAKE_PROGRAM)
  list(APPEND configure_args "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
run("configuring the consumer" "${CMAKE_COMMAND}" ${configure_args})
run("building the consumer" "${CMAKE_COMMAND}" --build "${consumer_build}" ${config_args})

find_program(consumer tesslykit_consumer PATHS "${consumer_build}" "${consumer_build}/${CONFIG}"
             NO_DEFAULT_PATH REQUIRED)
run("running the consumer" "${consumer}")
message(STATUS "consumer: ${last_output}")
