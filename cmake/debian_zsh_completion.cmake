# Run by CPack on the staging tree before the package is built: Debian's zsh looks for the
# completions of packages in /usr/share/zsh/vendor-completions, not in site-functions.
file(GLOB_RECURSE completions "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/zsh/site-functions/_*")
foreach(completion ${completions})
    get_filename_component(site_functions "${completion}" DIRECTORY)
    get_filename_component(zsh "${site_functions}" DIRECTORY)
    file(MAKE_DIRECTORY "${zsh}/vendor-completions")
    file(RENAME "${completion}" "${zsh}/vendor-completions/_pyrn")
    file(REMOVE "${site_functions}")
endforeach()
