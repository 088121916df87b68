# Packages made by CPack from the install rules: a .deb on Linux, an NSIS installer for
# Windows. The version is the project's, set once in the top-level CMakeLists.txt.
include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)

set(CPACK_PACKAGE_NAME tamblewick)
set(CPACK_PACKAGE_VENDOR "The Tamblewick developers")
set(CPACK_PACKAGE_CONTACT "${TAMBLEWICK_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${TAMBLEWICK_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chat with people on the local network")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})

if(WIN32)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME tamblewick-${PROJECT_VERSION}-setup)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Tamblewick)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tamblewick)
  set(CPACK_NSIS_PACKAGE_NAME Tamblewick)
  set(CPACK_NSIS_DISPLAY_NAME Tamblewick)
  # The 64-bit program belongs under "Program Files", not "Program Files (x86)".
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  # One Start-menu shortcut, "Tamblewick", to the program at the top of its folder.
  set(CPACK_PACKAGE_EXECUTABLES tamblewick Tamblewick)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_NSIS_INSTALLED_ICON_NAME tamblewick.exe)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/ui/win32/tamblewick.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/ui/win32/tamblewick.ico)
  set(CPACK_NSIS_URL_INFO_ABOUT "${TAMBLEWICK_HOMEPAGE}")
  set(CPACK_NSIS_CONTACT "${TAMBLEWICK_MAINTAINER}")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MODIFY_PATH OFF)
  # A 64-bit installer for the 64-bit program: it then needs no 32-bit Windows layer (nor
  # a 32-bit Wine) and sees the 64-bit registry, where Add/Remove Programs looks.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMBLEWICK_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TAMBLEWICK_HOMEPAGE}")
  # Depends comes from dpkg-shlibdeps, from the libraries the program really links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The extended description: CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tamblewick is a tiny chat for people on one local network. One
window becomes the server with the command serve, the others choose
a name with nick and join it with connect and the server's host. The
server relays every chat line to all other clients and announces
logins, logouts, name changes
and time-outs.
.
Everything travels as 88-byte UDP datagrams on port 1210, with
acknowledgements and resends. Traffic is neither encrypted nor
authenticated: use it only on a network you trust.")
endif()

include(CPack)
