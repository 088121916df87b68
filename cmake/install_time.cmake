# Steps of `cmake --install` (and so of CPack) that need tools a plain build does not:
# each says what it left out when its tool is missing, and the install goes on.
# file(INSTALL) puts DESTDIR in front and records the file in the manifest, as
# install(FILES) does.

# -n keeps the time stamp out, so that the same sources give the same bytes.
function(tw_install_gzipped source destination name)
  find_program(TW_INSTALL_GZIP gzip)
  if(NOT TW_INSTALL_GZIP)
    get_filename_component(plain ${name} NAME_WLE)
    message(WARNING "gzip not found: installing ${plain} uncompressed")
    file(INSTALL ${source} DESTINATION ${destination} RENAME ${plain})
    return()
  endif()
  get_filename_component(scratch ${source} DIRECTORY)
  set(compressed ${scratch}/gz/${name})
  file(MAKE_DIRECTORY ${scratch}/gz)
  execute_process(COMMAND ${TW_INSTALL_GZIP} -9 -n -c ${source} OUTPUT_FILE ${compressed}
                  COMMAND_ERROR_IS_FATAL ANY)
  file(INSTALL ${compressed} DESTINATION ${destination})
endfunction()

function(tw_install_icons svg scratch theme)
  find_program(TW_INSTALL_RSVG_CONVERT rsvg-convert)
  if(NOT TW_INSTALL_RSVG_CONVERT)
    message(WARNING "rsvg-convert not found (librsvg2-bin): the PNG icons are left out; "
                    "the scalable SVG icon is installed")
    return()
  endif()
  foreach(size IN LISTS ARGN)
    set(folder ${size}x${size}/apps)
    get_filename_component(name ${svg} NAME_WLE)
    file(MAKE_DIRECTORY ${scratch}/${folder})
    execute_process(COMMAND ${TW_INSTALL_RSVG_CONVERT} -w ${size} -h ${size}
                            -o ${scratch}/${folder}/${name}.png ${svg}
                    COMMAND_ERROR_IS_FATAL ANY)
    file(INSTALL ${scratch}/${folder}/${name}.png DESTINATION ${theme}/${folder})
  endforeach()
endfunction()

# The template filled in with the paths under the prefix of this install (relative
# destinations are under it, as install(FILES) has them), then installed as it is or gzipped.
function(tw_install_configured template filled bindir destination compress)
  foreach(folder IN ITEMS bindir destination)
    if(NOT IS_ABSOLUTE "${${folder}}")
      set(${folder} "${CMAKE_INSTALL_PREFIX}/${${folder}}")
    endif()
  endforeach()
  # The names the templates use.
  set(TW_INSTALLED_BINDIR ${bindir})
  set(TW_INSTALLED_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/${TW_UNIT_DIR})
  # A manual page's KEYS section, as the build wrote it from the program's key table.
  get_filename_component(program ${filled} NAME_WE)
  get_filename_component(scratch ${filled} DIRECTORY)
  set(TW_KEYS "")
  if(EXISTS ${scratch}/keys-${program}.roff)
    file(READ ${scratch}/keys-${program}.roff TW_KEYS)
  endif()
  configure_file(${template} ${filled} @ONLY)
  get_filename_component(name ${filled} NAME)
  if(compress)
    tw_install_gzipped(${filled} ${destination} ${name}.gz)
  else()
    file(INSTALL ${filled} DESTINATION ${destination})
  endif()
endfunction()
