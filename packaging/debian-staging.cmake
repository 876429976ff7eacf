# Run by CPack on the staged package tree before it is packed. It does what debhelper would do
# to these files: strips the program as dh_strip does (symbols, and the .comment and .note
# sections too), compresses the manual page and the README with gzip -9n (no name or time
# stamp, so the bytes are reproducible), and adds the changelog of a native package and the
# lintian overrides.
set(usr ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(source ${CPACK_CLIPTINT_DEBIAN_DIR})

execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                        ${usr}/bin/cliptint COMMAND_ERROR_IS_FATAL ANY)
foreach(file share/man/man1/cliptint.1 share/doc/cliptint/README.md)
  execute_process(COMMAND gzip -9nf ${usr}/${file} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND gzip -9nc ${source}/changelog
                OUTPUT_FILE ${usr}/share/doc/cliptint/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY ${usr}/share/lintian/overrides)
file(COPY_FILE ${source}/lintian-overrides ${usr}/share/lintian/overrides/cliptint)
