# Checks bundle/Sign.cmake on any OS, on a "Tessly Helper.app" laid out by hand: the entitlements
# and layout of a team build and of a local (ad-hoc) one after it, and the codesign command of each.
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -P SignTest.cmake
cmake_minimum_required(VERSION 3.25)

set(sign "${SOURCE_DIR}/platform/darwin/bundle/Sign.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")
set(bundle "${WORK_DIR}/Tessly Helper.app")
file(WRITE "${bundle}/Contents/MacOS/Tessly Helper" "binary")
file(WRITE "${WORK_DIR}/team.provisionprofile" "profile bytes")

function(sign outVariable resultVariable)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DBUNDLE=${bundle}" -DBUNDLE_ID=app.tessly.helper
                          -DGROUP_ID=group.app.tessly.sensors -DDRY_RUN=ON
                          "-DENTITLEMENTS=${WORK_DIR}/TesslyHelper.entitlements" ${ARGN}
                          -P "${sign}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE result)
  set(${outVariable} "${out}" PARENT_SCOPE)
  set(${resultVariable} "${result}" PARENT_SCOPE)
endfunction()

# expect(<message> <condition>...): fails with the message unless the condition holds.
function(expect message)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${message}")
  endif()
endfunction()

# A team build: the profile's entitlements, the profile inside, a timestamp whatever the identity.
string(CONCAT expected
  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
  "<plist version=\"1.0\">\n<dict>\n"
  "\t<key>com.apple.application-identifier</key>\n\t<string>ABCDE12345.app.tessly.helper</string>\n"
  "\t<key>com.apple.developer.team-identifier</key>\n\t<string>ABCDE12345</string>\n"
  "\t<key>com.apple.security.application-groups</key>\n"
  "\t<array>\n\t\t<string>group.app.tessly.sensors</string>\n\t</array>\n"
  "</dict>\n</plist>\n")
foreach(identity "Developer ID Application: Tessly (ABCDE12345)"
                 "Apple Development: Tessly (ABCDE12345)")
  sign(out result -DTEAM_ID=ABCDE12345 "-DPROFILE=${WORK_DIR}/team.provisionprofile"
       "-DIDENTITY=${identity}")
  expect("the team build failed: ${out}" result EQUAL 0)
  file(READ "${WORK_DIR}/TesslyHelper.entitlements" entitlements)
  expect("team entitlements:\n${entitlements}" entitlements STREQUAL expected)
  file(READ "${bundle}/Contents/embedded.provisionprofile" embedded)
  expect("the profile is not embedded" embedded STREQUAL "profile bytes")
  string(FIND "${out}" "codesign --force --options runtime --entitlements \
${WORK_DIR}/TesslyHelper.entitlements --timestamp --sign ${identity} ${bundle}\n" at)
  expect("team codesign: ${out}" at GREATER -1)
endforeach()

# A local build after the team build: ad hoc, the application group alone, no timestamp, and the
# team's profile gone from the bundle.
sign(out result -DIDENTITY=-)
expect("the local build failed: ${out}" result EQUAL 0)
file(READ "${WORK_DIR}/TesslyHelper.entitlements" entitlements)
expect("ad-hoc: ${entitlements}" NOT entitlements MATCHES "team-identifier|application-identifier")
expect("ad-hoc: ${entitlements}" entitlements MATCHES "group.app.tessly.sensors")
expect("ad-hoc kept the profile" NOT EXISTS "${bundle}/Contents/embedded.provisionprofile")
expect("ad-hoc codesign: ${out}" out MATCHES "--timestamp=none --sign - ")

# What cannot be signed is refused: a team without a profile, a team with an ad-hoc signature.
sign(out result -DTEAM_ID=ABCDE12345 "-DIDENTITY=Apple Development: x")
expect("a team build without a profile passed" NOT result EQUAL 0)
sign(out result -DTEAM_ID=ABCDE12345 "-DPROFILE=${WORK_DIR}/team.provisionprofile" -DIDENTITY=-)
expect("an ad-hoc team build passed" NOT result EQUAL 0)
message(STATUS "team and local signing laid out as expected")
