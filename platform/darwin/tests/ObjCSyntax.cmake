# The Objective-C++ files, compiled for real on Linux: clang with ARC and blocks checks their
# syntax, types and selectors against GNUstep's Foundation and AppKit headers, with the project's
# warnings as errors. What GNUstep lacks of Apple's API is declared in tests/gnustep/ from Apple's
# documentation, and nothing more. Prints "SKIPPED: ..." (which the test takes for a skip) where
# clang, GNUstep's headers or GCC's Objective-C runtime headers are missing.
#   cmake -DSOURCE_DIR=<repo> -DWARNINGS="<flags>" -P ObjCSyntax.cmake
cmake_minimum_required(VERSION 3.25)

find_program(CLANG NAMES clang++ clang++-16 clang++-15 clang++-14)
find_program(GCC NAMES gcc)
if(NOT CLANG OR NOT GCC)
  message("SKIPPED: clang++ and gcc are needed (Debian: clang, gcc)")
  return()
endif()
execute_process(COMMAND "${GCC}" -print-file-name=include OUTPUT_VARIABLE gcc_include
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(gnustep_include /usr/include/GNUstep)
if(NOT EXISTS "${gcc_include}/objc/objc.h" OR NOT EXISTS "${gnustep_include}/AppKit/AppKit.h")
  message("SKIPPED: GNUstep's Foundation and AppKit headers are needed "
          "(Debian: libgnustep-base-dev, libgnustep-gui-dev)")
  return()
endif()

set(shims "${SOURCE_DIR}/platform/darwin/tests/gnustep")
set(flags -x objective-c++ -std=c++20 -fobjc-arc -fblocks -fobjc-runtime=gnustep-2.0
          -fobjc-exceptions -fsyntax-only
          # The shims first, GCC's runtime headers last, so that clang's own come before them.
          "-I${shims}" -idirafter "${gcc_include}"
          -DGNUSTEP -DGNUSTEP_BASE_LIBRARY=1 -DGNU_GUI_LIBRARY=1 -DGNU_RUNTIME=1
          -D_NATIVE_OBJC_EXCEPTIONS -isystem "${gnustep_include}" -include "${shims}/AppleOnly.h")
foreach(folder agent base thermal fans exchange platform/darwin platform/darwin/smc
               platform/darwin/hid)
  list(APPEND flags "-I${SOURCE_DIR}/${folder}/include")
endforeach()
list(APPEND flags "-I${SOURCE_DIR}/exchange/src")
separate_arguments(warnings UNIX_COMMAND "${WARNINGS} -Werror")

set(failed "")
foreach(file platform/darwin/CocoaServices.mm exchange/src/darwin/Container.mm agent/darwin/main.mm)
  execute_process(COMMAND "${CLANG}" ${flags} ${warnings} "${SOURCE_DIR}/${file}"
                  RESULT_VARIABLE result ERROR_VARIABLE diagnostics)
  if(result EQUAL 0)
    message(STATUS "${file}: compiles")
  else()
    message("${diagnostics}")
    list(APPEND failed "${file}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "Objective-C++ that does not compile: ${failed}")
endif()
