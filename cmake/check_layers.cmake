# Fails when a source under ROOT (the src folder) includes a header from a layer above its
# own, or a platform's header outside the files that are that platform's.
#
#   cmake -DROOT=src -P cmake/check_layers.cmake
#
# Layers, lowest first: transport, net, chat, ui, and every folder under ui (x11, win32,
# tty, ...) as a platform of its own that no other folder may include. Tests, benchmarks
# and fuzzers may include anything, so only ROOT is read.

cmake_minimum_required(VERSION 3.25)
set(tw_layers transport net chat ui)

# Rank of a path relative to ROOT ("net/peer.h"), or of an include; -1 when it is none.
function(tw_layer_of path out_rank out_platform)
  set(rank -1)
  set(platform "")
  if(path MATCHES "^([a-z0-9_]+)/")
    list(FIND tw_layers "${CMAKE_MATCH_1}" rank)
  endif()
  if(path MATCHES "^ui/([^/]+)/")
    set(rank 4)
    set(platform "${CMAKE_MATCH_1}")
  endif()
  set(${out_rank} ${rank} PARENT_SCOPE)
  set(${out_platform} "${platform}" PARENT_SCOPE)
endfunction()

# Which platform a system header belongs to: x11, win32, posix, or "" for a portable one.
function(tw_header_family header out)
  string(TOLOWER "${header}" name)
  set(family "")
  if(name MATCHES "^x11/|^xft")
    set(family x11)
  elseif(name MATCHES "^(win[a-z0-9]*|ws2[a-z0-9]*|mmsystem|mswsock|commctrl|shellapi)\\.h$")
    set(family win32)
  elseif(name MATCHES "^(unistd|poll|termios|fcntl|netdb|pthread|dlfcn|ifaddrs|pwd)\\.h$"
         OR name MATCHES "^(sys|netinet|arpa|net)/")
    set(family posix)
  endif()
  set(${out} "${family}" PARENT_SCOPE)
endfunction()

# The platform header families a file may use: its platform folder's, or the transport's
# per-platform files and the one header that picks the socket headers for either.
function(tw_allowed_families file out)
  set(allowed "")
  if(file MATCHES "^ui/x11/")
    set(allowed x11 posix)
  elseif(file MATCHES "^ui/win32/")
    set(allowed win32)
  elseif(file MATCHES "^ui/[^/]+/")
    set(allowed posix)
  elseif(file MATCHES "^transport/[^/]*_posix\\.cpp$")
    set(allowed posix)
  elseif(file MATCHES "^transport/[^/]*_win32\\.cpp$")
    set(allowed win32)
  elseif(file STREQUAL "transport/socket_native.h")
    set(allowed posix win32)
  endif()
  set(${out} "${allowed}" PARENT_SCOPE)
endfunction()

get_filename_component(ROOT "${ROOT}" ABSOLUTE)
if(NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "check_layers: ROOT=${ROOT} is not a folder")
endif()
file(GLOB_RECURSE tw_files RELATIVE "${ROOT}" "${ROOT}/*.h" "${ROOT}/*.cpp" "${ROOT}/*.rc")
list(SORT tw_files)
if(NOT tw_files)
  message(FATAL_ERROR "check_layers: no sources under ${ROOT}")
endif()

set(tw_faults "")
foreach(file IN LISTS tw_files)
  tw_layer_of("${file}" own_rank own_platform)
  tw_allowed_families("${file}" allowed)
  file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(quoted "${CMAKE_MATCH_1}")
    set(header "${CMAKE_MATCH_2}")
    # The project's own headers are quoted; <net/if.h> is the system's, not the layer's.
    set(rank -1)
    if(quoted STREQUAL "\"")
      tw_layer_of("${header}" rank platform)
    endif()
    if(rank GREATER -1)
      if(own_rank GREATER -1 AND rank GREATER own_rank)
        list(APPEND tw_faults "${file} includes ${header}, a layer above its own")
      elseif(rank EQUAL 4 AND own_rank EQUAL 4 AND NOT platform STREQUAL own_platform)
        list(APPEND tw_faults "${file} includes ${header}, another platform's")
      endif()
      continue()
    endif()
    tw_header_family("${header}" family)
    if(family AND NOT family IN_LIST allowed)
      list(APPEND tw_faults "${file} includes ${header}, a ${family} header outside its platform files")
    endif()
  endforeach()
endforeach()

list(LENGTH tw_files tw_count)
if(tw_faults)
  list(JOIN tw_faults "\n  " tw_text)
  message(FATAL_ERROR "check_layers: ${tw_count} files read, includes that break the layers:\n  ${tw_text}")
endif()
message(STATUS "check_layers: ${tw_count} files read, every include goes downwards")
