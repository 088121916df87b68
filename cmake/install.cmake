# Where an installed Tamblewick puts its files, so that `cmake --install` (with a prefix
# or DESTDIR), the packages and the Windows installer all carry the same set. On Linux
# each program installs with its own files as one component, which becomes one package:
# window (tamblewick) and tty (tamblewick-tty).
include(GNUInstallDirs)

set(TW_APP_ID org.tamblewick.Tamblewick)
set(TW_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(TW_DATA ${PROJECT_BINARY_DIR}/install-data)

if(WIN32)
  # Everything in the one folder under Program Files, next to the license it refers to.
  if(TARGET tamblewick)
    install(TARGETS tamblewick RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  return()
endif()

# The components this build installs, in the order the packages are made.
set(TW_COMPONENTS)
set(TW_INSTALL_TIME ${CMAKE_CURRENT_LIST_DIR}/install_time.cmake)
# systemd looks for units in lib/systemd/system under /usr (and /usr/local) on every
# distribution the packages are for.
set(TW_UNIT_DIR lib/systemd/system)

# tw_install_gzipped(COMPONENT FILE DESTINATION [RENAME]): a manual page or changelog,
# compressed when it is installed, as Debian's tools expect, so that a plain build needs
# no gzip; without gzip the file goes in as it is.
function(tw_install_gzipped component file destination)
  get_filename_component(name ${file} NAME)
  set(rename ${name}.gz)
  if(ARGC GREATER 3)
    set(rename ${ARGV3})
  endif()
  install(CODE "include(\"${TW_INSTALL_TIME}\")
tw_install_gzipped(\"${file}\" \"\${CMAKE_INSTALL_PREFIX}/${destination}\" \"${rename}\")"
          COMPONENT ${component})
endfunction()

# tw_install_configured(COMPONENT TEMPLATE DESTINATION [gzip]): a file that names where
# the others are installed (the unit, the terminal program's manual page), filled in when
# installing, so that it names the prefix in force then: `cmake --install --prefix` or
# CPack's, not only the one given to configure. DESTDIR stays out of the paths it names.
function(tw_install_configured component template destination)
  get_filename_component(name ${template} NAME_WLE)
  install(CODE "include(\"${TW_INSTALL_TIME}\")
set(PROJECT_VERSION \"${PROJECT_VERSION}\")
set(TAMBLEWICK_RELEASE_DATE \"${TAMBLEWICK_RELEASE_DATE}\")
set(TAMBLEWICK_HOMEPAGE \"${TAMBLEWICK_HOMEPAGE}\")
set(TAMBLEWICK_BUG_ADDRESS \"${TAMBLEWICK_BUG_ADDRESS}\")
set(TW_UNIT_DIR \"${TW_UNIT_DIR}\")
tw_install_configured(\"${template}\" \"${TW_DATA}/${name}\" \"${CMAKE_INSTALL_BINDIR}\"
                      \"${destination}\" \"${ARGN}\")"
          COMPONENT ${component})
endfunction()

# tw_manual_keys(PROGRAM FRONT_END): the KEYS section of PROGRAM's manual page, written
# from the key table the program itself uses (tw_manual_keys) when building, so that the
# page cannot drift from the keys; tw_install_configured puts it into the page.
function(tw_manual_keys program front_end)
  if(TARGET tw_manual_keys)
    add_custom_command(OUTPUT ${TW_DATA}/keys-${program}.roff
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TW_DATA}
      COMMAND tw_manual_keys ${front_end} ${TW_DATA}/keys-${program}.roff
      DEPENDS tw_manual_keys VERBATIM)
    add_custom_target(keys-${program} ALL DEPENDS ${TW_DATA}/keys-${program}.roff)
  endif()
endfunction()

# The files every package carries in its own doc folder: the copyright and the changelog
# of a native package (no Debian revision), with the short name such a package uses.
function(tw_install_package_docs component package)
  install(FILES ${TW_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
  tw_install_gzipped(${component} ${TW_DATA}/changelog.Debian
                     ${CMAKE_INSTALL_DATADIR}/doc/${package} changelog.gz)
endfunction()

configure_file(${TW_PACKAGING}/copyright ${TW_DATA}/copyright @ONLY)
execute_process(COMMAND date -u -R -d "${TAMBLEWICK_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TW_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "${TAMBLEWICK_RELEASE_DATE}" "+%a %b %d %Y"
                OUTPUT_VARIABLE TW_RPM_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${TW_PACKAGING}/changelog.Debian.in ${TW_DATA}/changelog.Debian @ONLY)

if(TARGET tamblewick)
  list(APPEND TW_COMPONENTS window)
  install(TARGETS tamblewick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  tw_manual_keys(tamblewick window)
  tw_install_configured(window ${PROJECT_SOURCE_DIR}/docs/man/tamblewick.1.in
                        ${CMAKE_INSTALL_MANDIR}/man1 gzip)

  # The bitmap icons are drawn from the one SVG when installing, so they never drift
  # from it and a plain build needs no rsvg-convert.
  set(tw_icon_svg ${TW_PACKAGING}/${TW_APP_ID}.svg)
  install(CODE "include(\"${TW_INSTALL_TIME}\")
tw_install_icons(\"${tw_icon_svg}\" \"${TW_DATA}/icons\"
                 \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/icons/hicolor\" 48 128)"
          COMPONENT window)
  install(FILES ${tw_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT window)
  install(FILES ${TW_PACKAGING}/${TW_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  configure_file(${TW_PACKAGING}/${TW_APP_ID}.metainfo.xml.in
                 ${TW_DATA}/${TW_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${TW_DATA}/${TW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT window)
  tw_install_package_docs(window tamblewick)
endif()

if(TARGET tamblewick-tty)
  list(APPEND TW_COMPONENTS tty)
  install(TARGETS tamblewick-tty RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tty)
  tw_manual_keys(tamblewick-tty terminal)
  tw_install_configured(tty ${PROJECT_SOURCE_DIR}/docs/man/tamblewick-tty.1.in
                        ${CMAKE_INSTALL_MANDIR}/man1 gzip)
  tw_install_configured(tty ${TW_PACKAGING}/tamblewick-tty.service.in ${TW_UNIT_DIR})
  tw_install_package_docs(tty tamblewick-tty)
endif()
