# A Mac as far as configuring goes (MacosConfigureTest.cmake): Darwin 23 (macOS 14) on arm64 with
# Apple's clang 15. No compiler runs: identification and the compiler check are skipped and the
# compiler's C++ features are stated here, so the project is configured and generated, never built.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 23.0)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_CXX_COMPILER "${CMAKE_COMMAND}")
set(CMAKE_CXX_COMPILER_ID_RUN TRUE)
set(CMAKE_CXX_COMPILER_FORCED TRUE)
set(CMAKE_CXX_COMPILER_ID AppleClang)
set(CMAKE_CXX_COMPILER_VERSION 15.0.0)
set(CMAKE_CXX_STANDARD_COMPUTED_DEFAULT 98)
set(CMAKE_CXX_COMPILE_FEATURES cxx_std_98 cxx_std_11 cxx_std_14 cxx_std_17 cxx_std_20)
set(CMAKE_SIZEOF_VOID_P 8)
