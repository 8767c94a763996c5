set(TESSLY_PLATFORM_SOURCES
  linux/SystemClock.cpp
  linux/Defaults.cpp
)
