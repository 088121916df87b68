# Writes a small source tree with five faults among allowed includes, runs the layer check
# on it and expects exactly those five reported.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORK}")
function(source path)
  list(JOIN ARGN "\n" text)
  file(WRITE "${WORK}/${path}" "${text}\n")
endfunction()

source(transport/socket_system_posix.cpp "#include <sys/socket.h>" "#include \"transport/a.h\"")
source(transport/reaches_up.cpp "#include \"net/peer.h\"")
source(net/peer.h "#include <net/if.h>" "#include \"transport/a.h\"")
source(chat/log.cpp "  #  include <X11/Xlib.h>" "#include \"net/peer.h\"")
source(ui/view.cpp "#include \"chat/log.h\"" "#include <windows.h>")
source(ui/x11/main.cpp "#include <X11/Xlib.h>" "#include <poll.h>" "#include \"ui/view.h\"")
source(ui/tty/main.cpp "#include <termios.h>" "#include \"ui/x11/window.h\"")
source(ui/win32/app.rc "#include <windows.h>" "#include \"ui/menu_ids.h\"")

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECK}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX MATCHALL "\n +[^ ]+ includes [^\n]*" faults "${out}")
string(REGEX REPLACE "\n +" "" faults "${faults}")
set(expected
  "chat/log.cpp includes X11/Xlib.h, a x11 header outside its platform files"
  "net/peer.h includes net/if.h, a posix header outside its platform files"
  "transport/reaches_up.cpp includes net/peer.h, a layer above its own"
  "ui/tty/main.cpp includes ui/x11/window.h, another platform's"
  "ui/view.cpp includes windows.h, a win32 header outside its platform files")
if(status EQUAL 0 OR NOT faults STREQUAL expected)
  list(JOIN expected "\n  " want)
  message(FATAL_ERROR "expected a failure reporting\n  ${want}\ngot (exit ${status}):\n${out}")
endif()
