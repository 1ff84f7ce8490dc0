# strip-run-paths.cmake: run by CPack on the staged files before it makes the packages. The
# installed programs carry run paths relative to themselves so that `cmake --install --prefix`
# works anywhere; a package installs into /usr, where the system's library search finds the
# libraries, and Debian's rules forbid run paths there.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(f ${staged})
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # ELF
    file(RPATH_REMOVE FILE "${f}")
  endif()
endforeach()
