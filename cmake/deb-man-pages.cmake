# Run by CPack before it builds the package: Debian's manual pages are
# compressed with gzip -9n (no name, no time stamp, so the same page gives the
# same bytes). man still resolves vorbles-plain's .so line to the compressed page.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man6/*.6")
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not compress ${page}")
  endif()
endforeach()
