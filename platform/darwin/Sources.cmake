# The macOS implementations of the platform seams: C++ over IOKit and CoreFoundation, and one
# Objective-C++ file for what only AppKit, Foundation and ServiceManagement offer. Included from
# platform/CMakeLists.txt on Apple platforms only.
#
# The .mm file is compiled by the C++ compiler (the project enables CXX only, and CMake then
# counts .mm among the C++ sources); Apple's clang reads it as Objective-C++ by its extension, so
# it gets the project's C++ standard, warnings and sanitizer flags like every other file.
set(TESSLY_PLATFORM_SOURCES
  darwin/Defaults.cpp
  darwin/IOKitSMCDriver.cpp
  darwin/HIDTemperatureServices.cpp
  darwin/SystemClock.cpp
  darwin/CocoaServices.mm
)
set(TESSLY_PLATFORM_HOST_SOURCES)

# Automatic reference counting for the Objective-C objects the file keeps.
set_source_files_properties(darwin/CocoaServices.mm PROPERTIES COMPILE_OPTIONS "-fobjc-arc")

target_link_libraries(tessly_platform PUBLIC
  "-framework IOKit"
  "-framework CoreFoundation"
  "-framework Foundation"
  "-framework AppKit"
  "-framework ServiceManagement"
)
