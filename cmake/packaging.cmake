# Packages made by CPack from the install rules: a .deb and an RPM of each program on
# Linux, an NSIS installer for Windows. The version is the project's, set once in the
# top-level CMakeLists.txt.
include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)

set(CPACK_PACKAGE_NAME tamblewick)
set(CPACK_PACKAGE_VENDOR "The Tamblewick developers")
set(CPACK_PACKAGE_CONTACT "${TAMBLEWICK_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${TAMBLEWICK_HOMEPAGE}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})

if(WIN32)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME tamblewick-${PROJECT_VERSION}-setup)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chat with people on the local network")
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
  # One package per program, the same two as .deb and as RPM, from one build.
  set(CPACK_GENERATOR DEB RPM)
  set(CPACK_COMPONENTS_ALL ${TW_COMPONENTS})
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_RPM_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(tw_description_network "Everything travels as 88-byte UDP datagrams on port 1210, with
acknowledgements and resends. Traffic is neither encrypted nor
authenticated: use it only on a network you trust.")
  set(tw_description_window "Tamblewick is a tiny chat for people on one local network. One
window becomes the server with the command serve, the others choose
a name with nick and join it with connect and the server's host. The
server relays every chat line to all other clients and announces
logins, logouts, name changes and time-outs.")
  set(tw_description_tty "tamblewick-tty is the Tamblewick chat in a terminal, for hosts without
a display: it takes over the screen on a terminal, and reads and
prints plain lines when its input or output is a pipe. With the
systemd unit it ships, it is an always-on headless server. It needs
no X library and speaks with tamblewick windows.")
  # Lower case for Debian, capitalised for RPM, as each distribution writes them.
  set(tw_summary_window "chat with people on the local network")
  set(tw_summary_tty "chat with people on the local network, in a terminal")

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMBLEWICK_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TAMBLEWICK_HOMEPAGE}")
  # Depends comes from dpkg-shlibdeps, from the libraries each program really links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  # The server's unit is handled as the distributions' own packages do it: not enabled or
  # started by installing, stopped by removing, restarted by upgrading when it runs, and
  # after a purge no enable link or state is left (deb-systemd-helper on Debian, the
  # scriptlets of Fedora's systemd macros on RPM systems).
  set(CPACK_DEBIAN_TTY_PACKAGE_CONTROL_EXTRA ${TW_PACKAGING}/deb/postinst
      ${TW_PACKAGING}/deb/prerm ${TW_PACKAGING}/deb/postrm)
  set(CPACK_RPM_TTY_POST_INSTALL_SCRIPT_FILE ${TW_PACKAGING}/rpm/tamblewick-tty.post)
  set(CPACK_RPM_TTY_PRE_UNINSTALL_SCRIPT_FILE ${TW_PACKAGING}/rpm/tamblewick-tty.preun)
  set(CPACK_RPM_TTY_POST_UNINSTALL_SCRIPT_FILE ${TW_PACKAGING}/rpm/tamblewick-tty.postun)

  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/Internet")
  set(CPACK_RPM_PACKAGE_URL "${TAMBLEWICK_HOMEPAGE}")
  # Requires comes from rpmbuild's scan of the binaries; the folders the system owns
  # stay out of the packages' file lists.
  set(CPACK_RPM_PACKAGE_AUTOREQPROV ON)
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/doc /usr/lib/systemd /usr/lib/systemd/system
    /usr/share/applications /usr/share/metainfo /usr/share/icons /usr/share/icons/hicolor
    /usr/share/icons/hicolor/48x48 /usr/share/icons/hicolor/48x48/apps
    /usr/share/icons/hicolor/128x128 /usr/share/icons/hicolor/128x128/apps
    /usr/share/icons/hicolor/scalable /usr/share/icons/hicolor/scalable/apps)
  # The same files as the .deb: no build-id links, which only debuginfo packages need.
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define packager ${TAMBLEWICK_MAINTAINER}")
  set(CPACK_RPM_CHANGELOG_FILE ${TW_DATA}/changelog.rpm)
  file(WRITE ${TW_DATA}/changelog.rpm "* ${TW_RPM_CHANGELOG_DATE} ${TAMBLEWICK_MAINTAINER} - ${PROJECT_VERSION}-1
- Release ${PROJECT_VERSION}, built as two packages, tamblewick and tamblewick-tty.
")

  foreach(component IN ITEMS window tty)
    string(TOUPPER ${component} c)
    set(name tamblewick)
    if(component STREQUAL "tty")
      set(name tamblewick-tty)
    endif()
    set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${name})
    set(CPACK_RPM_${c}_PACKAGE_NAME ${name})
    # The license, not documentation: an install without docs keeps it.
    set(CPACK_RPM_${c}_USER_FILELIST "%license /usr/share/doc/${name}/copyright")
    # Both come from the one source, whose changelog both carry.
    set(CPACK_DEBIAN_${c}_PACKAGE_SOURCE tamblewick)
    set(CPACK_COMPONENT_${c}_DESCRIPTION "${tw_summary_${component}}")
    string(SUBSTRING "${tw_summary_${component}}" 0 1 first)
    string(SUBSTRING "${tw_summary_${component}}" 1 -1 rest)
    string(TOUPPER ${first} first)
    set(CPACK_RPM_${c}_PACKAGE_SUMMARY "${first}${rest}")
    # The first line is the summary, as Debian's Description field has it.
    set(CPACK_DEBIAN_${c}_DESCRIPTION "${tw_summary_${component}}
${tw_description_${component}}
.
${tw_description_network}")
    set(CPACK_RPM_${c}_PACKAGE_DESCRIPTION "${tw_description_${component}}

${tw_description_network}")
  endforeach()
endif()

include(CPack)
