# Installs the build, stripped, into a fresh prefix and checks that the menu entry points at the
# installed program; then the autostart entry, which only a request for it installs. Run as: cmake -DBUILD=<build dir> -DPREFIX=<prefix> -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
set(ENV{XDG_CONFIG_HOME} "${PREFIX}/config")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" --strip
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/kormil bin/kormil-send bin/kormil-pocketsphinx share/applications/kormil.desktop
             share/icons/hicolor/scalable/apps/kormil.svg)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(READ "${PREFIX}/share/applications/kormil.desktop" entry)
if(NOT entry MATCHES "\nExec=${PREFIX}/bin/kormil\n")
  message(FATAL_ERROR "the menu entry does not start the installed program:\n${entry}")
endif()
# KWin offers its window management protocol only to a program an entry names so.
if(NOT entry MATCHES "\nX-KDE-Wayland-Interfaces=org_kde_plasma_window_management\n")
  message(FATAL_ERROR "the menu entry does not ask KWin for its window management:\n${entry}")
endif()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/kormil.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE complaints ERROR_VARIABLE complaints)
  if(NOT result EQUAL 0 OR complaints)
    message(FATAL_ERROR "the menu entry is not valid:\n${complaints}")
  endif()
else()
  message(STATUS "desktop-file-validate (package desktop-file-utils) is missing: entry not validated")
endif()
if(EXISTS "${PREFIX}/config/autostart/kormil.desktop")
  message(FATAL_ERROR "the autostart entry was installed unasked")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                        --component autostart
                RESULT_VARIABLE result OUTPUT_QUIET)
file(READ "${PREFIX}/config/autostart/kormil.desktop" entry)
if(NOT result EQUAL 0 OR NOT entry MATCHES "\nExec=${PREFIX}/bin/kormil\n")
  message(FATAL_ERROR "the autostart entry does not start the installed program:\n${entry}")
endif()
message(STATUS "installed layout is complete")
