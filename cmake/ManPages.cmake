# quenta_install_man(PAGE): installs the roff man page PAGE, whose name ends in its section number
# (quenta.1), compressed under share/man/man<section>. PAGE is a hand-written file in the source
# tree or one made by a custom command in the calling folder.
include(${CMAKE_CURRENT_LIST_DIR}/Gzipped.cmake)

function(quenta_install_man page)
    get_filename_component(name ${page} NAME)
    string(REGEX MATCH "[1-9]$" section ${name})
    if(NOT section)
        message(FATAL_ERROR "${page}: a man page's name ends in its section number")
    endif()
    quenta_install_gzipped(${page} ${CMAKE_INSTALL_MANDIR}/man${section} ${name})
endfunction()
