# Installs the manual pages of section 6 with the sample bitmap's path made to
# match the installation prefix. Run by `cmake --install` (see CMakeLists.txt).

foreach(dir_var VORBLES_MANDIR VORBLES_DATADIR)
  if(NOT IS_ABSOLUTE "${${dir_var}}")
    set(${dir_var} "${CMAKE_INSTALL_PREFIX}/${${dir_var}}")
  endif()
endforeach()

# One work directory per destination, so that installs into different places
# can run at the same time.
string(MD5 destination "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(work "${VORBLES_MAN_WORK}/${destination}")

foreach(page vorbles.6 vorbles-plain.6)
  file(READ "${VORBLES_MAN_SOURCES}/${page}" text)
  string(REPLACE "/usr/local/share/vorbles/" "${VORBLES_DATADIR}/vorbles/" text "${text}")
  file(WRITE "${work}/${page}" "${text}")
  file(INSTALL DESTINATION "${VORBLES_MANDIR}/man6" TYPE FILE FILES "${work}/${page}")
endforeach()
