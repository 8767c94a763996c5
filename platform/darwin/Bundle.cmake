# The agent as the macOS application bundle "Tessly Helper.app": an accessory application
# (LSUIElement: no Dock icon, no menu bar) for macOS 14 and later, signed with the entitlements of
# the container it shares with the main application (bundle/Sign.cmake) by the target
# tessly-helper-signature, which `all` builds.
#
# Where it goes: inside the main application, at Contents/Library/LoginItems/Tessly Helper.app,
# the place macOS looks for an application's login items. `cmake --install build/macos
# --component Helper --prefix "<Main>.app"` puts it there. It is signed here, before it is copied;
# the main application is signed afterwards (inner first), which seals the helper inside it.
#
# Included from agent/CMakeLists.txt on Apple platforms, after the tessly-helper target is made.

set(TESSLY_BUNDLE_IDENTIFIER "app.tessly.helper" CACHE STRING
  "CFBundleIdentifier of Tessly Helper.app")
set(TESSLY_CODESIGN_IDENTITY "-" CACHE STRING
  "codesign identity for Tessly Helper.app: '-' signs ad hoc, empty leaves the bundle unsigned")
set(TESSLY_TEAM_ID "" CACHE STRING
  "The team of a team build (with TESSLY_PROVISIONING_PROFILE and a team's identity)")
set(TESSLY_PROVISIONING_PROFILE "" CACHE FILEPATH
  "The provisioning profile that authorises the application group, for a team build")

# The application group comes from TesslyKit's groupID, so the entitlement and the code that
# looks the container up cannot drift apart.
set(tessly_bridge_header "${PROJECT_SOURCE_DIR}/exchange/include/TesslyKit/SensorBridge.h")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${tessly_bridge_header}")
file(STRINGS "${tessly_bridge_header}" tessly_group_line REGEX "groupID = \"[^\"]+\"")
string(REGEX MATCH "\"([^\"]+)\"" tessly_group_match "${tessly_group_line}")
set(TESSLY_GROUP_ID "${CMAKE_MATCH_1}")
if(NOT TESSLY_GROUP_ID MATCHES "^group\\.")
  message(FATAL_ERROR "Cannot read groupID from TesslyKit/SensorBridge.h")
endif()

set_target_properties(tessly-helper PROPERTIES
  MACOSX_BUNDLE TRUE
  OUTPUT_NAME "Tessly Helper"
  MACOSX_BUNDLE_INFO_PLIST "${CMAKE_CURRENT_LIST_DIR}/bundle/Info.plist.in"
  MACOSX_BUNDLE_BUNDLE_NAME "Tessly Helper"
  MACOSX_BUNDLE_GUI_IDENTIFIER "${TESSLY_BUNDLE_IDENTIFIER}"
  MACOSX_BUNDLE_SHORT_VERSION_STRING "${PROJECT_VERSION}"
  MACOSX_BUNDLE_BUNDLE_VERSION "${PROJECT_VERSION}"
)

# The signature is an output of its own, made again whenever what it covers or how it is made
# changes: the helper relinks, its Info.plist changes, a signing setting changes (they are kept in
# TesslyHelperSigning.txt, which is rewritten only when they differ, the entitlements being made
# from them), the provisioning profile's content changes, or Sign.cmake does. A post-link step
# would keep an old signature across a change of identity, team or profile.
if(TESSLY_CODESIGN_IDENTITY)
  set(tessly_signing_settings
    "BUNDLE_ID=${TESSLY_BUNDLE_IDENTIFIER}"
    "GROUP_ID=${TESSLY_GROUP_ID}"
    "IDENTITY=${TESSLY_CODESIGN_IDENTITY}"
    "TEAM_ID=${TESSLY_TEAM_ID}"
    "PROFILE=${TESSLY_PROVISIONING_PROFILE}")
  set(tessly_signing_file "${CMAKE_CURRENT_BINARY_DIR}/TesslyHelperSigning.txt")
  list(JOIN tessly_signing_settings "\n" tessly_signing_text)
  file(GENERATE OUTPUT "${tessly_signing_file}" CONTENT "${tessly_signing_text}\n")
  list(TRANSFORM tessly_signing_settings PREPEND "-D" OUTPUT_VARIABLE tessly_signing_arguments)

  set(tessly_signed_stamp "${CMAKE_CURRENT_BINARY_DIR}/TesslyHelper.signed")
  set(tessly_sign_script "${CMAKE_CURRENT_LIST_DIR}/bundle/Sign.cmake")
  set(tessly_profile_dependency "")
  if(TESSLY_PROVISIONING_PROFILE)
    set(tessly_profile_dependency "${TESSLY_PROVISIONING_PROFILE}")
  endif()
  add_custom_command(
    OUTPUT "${tessly_signed_stamp}"
    BYPRODUCTS "${CMAKE_CURRENT_BINARY_DIR}/TesslyHelper.entitlements"
    COMMAND "${CMAKE_COMMAND}"
            "-DBUNDLE=$<TARGET_BUNDLE_DIR:tessly-helper>"
            ${tessly_signing_arguments}
            "-DENTITLEMENTS=${CMAKE_CURRENT_BINARY_DIR}/TesslyHelper.entitlements"
            -P "${tessly_sign_script}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${tessly_signed_stamp}"
    DEPENDS tessly-helper
            "$<TARGET_BUNDLE_CONTENT_DIR:tessly-helper>/Info.plist"
            "${tessly_signing_file}"
            "${tessly_sign_script}"
            ${tessly_profile_dependency}
    COMMENT "Signing Tessly Helper.app"
    VERBATIM)
  add_custom_target(tessly-helper-signature ALL DEPENDS "${tessly_signed_stamp}")
endif()
