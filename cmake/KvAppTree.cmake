# The application tree keeps the shape of the original bundle so that every
# bundle-relative path means the same thing on Linux.
set(KV_APP_NAME "Kelvane Pro 3")
set(KV_APP_DIR "${CMAKE_BINARY_DIR}/${KV_APP_NAME}.app")
set(KV_CONTENTS_DIR "${KV_APP_DIR}/Contents")
set(KV_MACOS_DIR "${KV_CONTENTS_DIR}/MacOS")
set(KV_RESOURCES_DIR "${KV_CONTENTS_DIR}/Resources")
set(KV_LAUNCHER_CONTENTS_DIR "${KV_CONTENTS_DIR}/Library/LoginItems/QVP3Launcher.app/Contents")
set(KV_QVSNAP_CONTENTS_DIR "${KV_RESOURCES_DIR}/QVSnap.app/Contents")
set(KV_TEST_BIN_DIR "${CMAKE_BINARY_DIR}/tests/bin")

file(MAKE_DIRECTORY "${KV_MACOS_DIR}" "${KV_RESOURCES_DIR}" "${KV_LAUNCHER_CONTENTS_DIR}/MacOS"
     "${KV_QVSNAP_CONTENTS_DIR}/MacOS" "${KV_TEST_BIN_DIR}")

# One integer build number, compared between the application and its agent: an agent of
# another build is replaced at start.
math(EXPR KV_BUILD_NUMBER_DEFAULT
     "${PROJECT_VERSION_MAJOR} * 10000 + ${PROJECT_VERSION_MINOR} * 100 + ${PROJECT_VERSION_PATCH}")
set(KV_BUILD_NUMBER "${KV_BUILD_NUMBER_DEFAULT}" CACHE STRING "Build number of the application and its agent")

# Info.plist of the application and of its agent, with the version of this CMake project.
include(${CMAKE_CURRENT_LIST_DIR}/KvSystemExcludes.cmake)
configure_file("${CMAKE_SOURCE_DIR}/resources/Info.plist.in" "${KV_CONTENTS_DIR}/Info.plist" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/QVP3Launcher-Info.plist.in"
               "${KV_LAUNCHER_CONTENTS_DIR}/Info.plist" @ONLY)

# The copying tools live in the resources under the names the system uses for them.
file(CREATE_LINK /usr/bin/rsync "${KV_RESOURCES_DIR}/rsync3" SYMBOLIC)
file(CREATE_LINK /usr/bin/tar "${KV_RESOURCES_DIR}/gnutar" SYMBOLIC)

# Resource lists and other plain resources are copied as they stand.
file(GLOB KV_PLAIN_RESOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/resources/*.plist"
     "${CMAKE_SOURCE_DIR}/resources/*.html")
foreach(res IN LISTS KV_PLAIN_RESOURCES)
  configure_file("${res}" "${KV_RESOURCES_DIR}/" COPYONLY)
endforeach()
# The help book, named by CFBundleHelpBookName; anchors are the ids of its sections.
configure_file("${CMAKE_SOURCE_DIR}/resources/help/index.html" "${KV_RESOURCES_DIR}/Kelvane Pro 3 Help/index.html"
               COPYONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/ParamProc.plist.in" "${KV_RESOURCES_DIR}/ParamProc.plist" @ONLY)
