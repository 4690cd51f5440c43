# quenta_install_gzipped(FILE DESTINATION NAME): installs FILE (from the source tree, or made by a
# custom command in the calling folder) as DESTINATION/NAME.gz, compressed as Debian wants it:
# gzip -9 without the file's name or time stamp, so that the same text gives the same bytes.
find_program(QUENTA_GZIP gzip REQUIRED)

function(quenta_install_gzipped file destination name)
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${destination})
    set(packed ${folder}/${name}.gz)
    string(MAKE_C_IDENTIFIER "gzip-${destination}-${name}" target)
    add_custom_command(
        OUTPUT ${packed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${QUENTA_GZIP} -9n -c ${file} > ${packed}
        DEPENDS ${file}
        COMMENT "Compressing ${name}"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${packed})
    install(FILES ${packed} DESTINATION ${destination})
endfunction()
