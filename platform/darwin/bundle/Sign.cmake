# Finishes and signs "Tessly Helper.app" (run by the target tessly-helper-signature, see
# Bundle.cmake): writes its entitlements, embeds the provisioning profile of a team build (and
# removes one that an earlier team build left), and runs codesign. The same script runs on Linux
# in a test, on a bundle laid out by hand, with DRY_RUN printing the codesign command instead.
#
#   cmake -DBUNDLE=<.app> -DBUNDLE_ID=<id> -DGROUP_ID=<group.…> -DIDENTITY=<codesign identity>
#         [-DTEAM_ID=<team>] [-DPROFILE=<.provisionprofile>] [-DENTITLEMENTS=<file>] [-DDRY_RUN=ON]
#         -P Sign.cmake
#
# Builds:
#   local (IDENTITY "-", the default): signed ad hoc with the application group only, no profile
#     and no timestamp (an ad-hoc signature cannot carry one). It has no team, so the app cannot
#     join the group that the team-signed main application owns; see platform/darwin/README.md
#     for what it can do on each macOS.
#   team (TEAM_ID and PROFILE set, a real IDENTITY): the entitlements that the provisioning
#     profile authorises (application identifier, team identifier, application group), the
#     profile embedded as Contents/embedded.provisionprofile, the hardened runtime, and a secure
#     timestamp, which notarization asks and which keeps the signature valid after the
#     certificate expires. Every real identity is a team's and is timestamped, whatever its kind.
cmake_minimum_required(VERSION 3.25)

foreach(required BUNDLE BUNDLE_ID GROUP_ID IDENTITY)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "Sign.cmake needs -D${required}=…")
  endif()
endforeach()
if(NOT DEFINED ENTITLEMENTS)
  get_filename_component(ENTITLEMENTS "${BUNDLE}/../TesslyHelper.entitlements" ABSOLUTE)
endif()
set(team_build FALSE)
if(TEAM_ID OR PROFILE)
  if(NOT TEAM_ID OR NOT PROFILE)
    message(FATAL_ERROR "A team build needs both TESSLY_TEAM_ID and TESSLY_PROVISIONING_PROFILE: "
                        "from macOS 15 on the application group must be authorised by a profile")
  endif()
  if(IDENTITY STREQUAL "-")
    message(FATAL_ERROR "A team build needs a team's codesign identity, not an ad-hoc signature")
  endif()
  if(NOT TEAM_ID MATCHES "^[A-Z0-9]+$")
    message(FATAL_ERROR "TESSLY_TEAM_ID must be the team's identifier, such as ABCDE12345")
  endif()
  if(NOT EXISTS "${PROFILE}")
    message(FATAL_ERROR "No provisioning profile at ${PROFILE}")
  endif()
  set(team_build TRUE)
endif()

# The entitlements, in the order codesign prints them.
set(plist "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">
<plist version=\"1.0\">
<dict>
")
if(team_build)
  string(APPEND plist "\t<key>com.apple.application-identifier</key>
\t<string>${TEAM_ID}.${BUNDLE_ID}</string>
\t<key>com.apple.developer.team-identifier</key>
\t<string>${TEAM_ID}</string>
")
endif()
string(APPEND plist "\t<key>com.apple.security.application-groups</key>
\t<array>
\t\t<string>${GROUP_ID}</string>
\t</array>
</dict>
</plist>
")
file(WRITE "${ENTITLEMENTS}" "${plist}")

# The profile goes with the entitlements that it authorises: a build without it must not keep the
# one a team build left in the same bundle.
if(team_build)
  file(COPY_FILE "${PROFILE}" "${BUNDLE}/Contents/embedded.provisionprofile")
else()
  file(REMOVE "${BUNDLE}/Contents/embedded.provisionprofile")
endif()

set(command codesign --force --options runtime --entitlements "${ENTITLEMENTS}")
if(IDENTITY STREQUAL "-")
  list(APPEND command --timestamp=none)  # an ad-hoc signature cannot be timestamped
else()
  list(APPEND command --timestamp)
endif()
list(APPEND command --sign "${IDENTITY}" "${BUNDLE}")
if(DRY_RUN)
  list(JOIN command " " line)
  message("codesign: ${line}")
else()
  execute_process(COMMAND ${command} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "codesign failed for ${BUNDLE}")
  endif()
endif()
