# Run by CPack on the staging tree before the package is built: compresses every manual page
# with gzip -9n (no name, no time stamp), as Debian packages ship them.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+$")
foreach(page ${pages})
    execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "pyrn: cannot compress ${page}")
    endif()
endforeach()
