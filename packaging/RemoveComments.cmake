# Run by CPack on the staged files of every package: removes the compiler's version notes
# (.comment) from the executables.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(file MATCHES "/usr/bin/[^/]+$")
    execute_process(COMMAND objcopy --remove-section=.comment ${file} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objcopy failed on ${file}")
    endif()
  endif()
endforeach()
