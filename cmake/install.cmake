# Where an installed Tamblewick puts its files, so that `cmake --install` (with a prefix
# or DESTDIR), the Debian package and the Windows installer all carry the same set.
include(GNUInstallDirs)

set(TAMBLEWICK_HOMEPAGE "https://tamblewick.org/" CACHE STRING "Project home page")
set(TAMBLEWICK_MAINTAINER "Tamblewick developers <maintainers@tamblewick.org>"
    CACHE STRING "Package maintainer, as name <address>")
# The day this version was released; the manual page and the metadata show it.
set(TAMBLEWICK_RELEASE_DATE "2026-12-08")
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

if(NOT TARGET tamblewick)
  return()
endif()

install(TARGETS tamblewick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tamblewick-tty)
  install(TARGETS tamblewick-tty RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The unit names the binary where this install puts it.
  configure_file(${TW_PACKAGING}/tamblewick-tty.service.in ${TW_DATA}/tamblewick-tty.service
                 @ONLY)
  install(FILES ${TW_DATA}/tamblewick-tty.service DESTINATION lib/systemd/system)
endif()

configure_file(${TW_PACKAGING}/${TW_APP_ID}.metainfo.xml.in ${TW_DATA}/${TW_APP_ID}.metainfo.xml
               @ONLY)
configure_file(${TW_PACKAGING}/copyright ${TW_DATA}/copyright @ONLY)
execute_process(COMMAND date -u -R -d "${TAMBLEWICK_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE TW_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${TW_PACKAGING}/changelog.Debian.in ${TW_DATA}/changelog.Debian @ONLY)

# Manual pages and the changelog are installed compressed, as Debian's tools expect;
# -n keeps the time stamp out, so that the same sources give the same bytes.
set(tw_man_pages tamblewick)
if(TARGET tamblewick-tty)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/tamblewick-tty.1 ${TW_DATA}/tamblewick-tty.1 @ONLY)
  list(APPEND tw_man_pages tamblewick-tty)
endif()
configure_file(${PROJECT_SOURCE_DIR}/docs/man/tamblewick.1.in ${TW_DATA}/tamblewick.1 @ONLY)

find_program(TW_GZIP gzip REQUIRED)
find_program(TW_RSVG_CONVERT rsvg-convert REQUIRED)
set(tw_generated)
foreach(page IN LISTS tw_man_pages)
  add_custom_command(OUTPUT ${TW_DATA}/${page}.1.gz
    COMMAND ${TW_GZIP} -9 -n -c ${TW_DATA}/${page}.1 > ${TW_DATA}/${page}.1.gz
    DEPENDS ${TW_DATA}/${page}.1)
  list(APPEND tw_generated ${TW_DATA}/${page}.1.gz)
  install(FILES ${TW_DATA}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${TW_DATA}/changelog.Debian.gz
  COMMAND ${TW_GZIP} -9 -n -c ${TW_DATA}/changelog.Debian > ${TW_DATA}/changelog.Debian.gz
  DEPENDS ${TW_DATA}/changelog.Debian)
list(APPEND tw_generated ${TW_DATA}/changelog.Debian.gz)

# The bitmap icons are drawn from the one SVG, so they never drift from it.
set(tw_icon_svg ${TW_PACKAGING}/${TW_APP_ID}.svg)
foreach(size IN ITEMS 48 128)
  set(png ${TW_DATA}/icons/${size}x${size}/${TW_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TW_DATA}/icons/${size}x${size}
    COMMAND ${TW_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${tw_icon_svg}
    DEPENDS ${tw_icon_svg})
  list(APPEND tw_generated ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(tw_install_data ALL DEPENDS ${tw_generated})

install(FILES ${tw_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TW_PACKAGING}/${TW_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TW_DATA}/${TW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(tw_doc ${CMAKE_INSTALL_DATADIR}/doc/tamblewick)
install(FILES ${TW_DATA}/copyright DESTINATION ${tw_doc})
# A package with no Debian revision is a native one, whose changelog has the short name.
install(FILES ${TW_DATA}/changelog.Debian.gz DESTINATION ${tw_doc} RENAME changelog.gz)
