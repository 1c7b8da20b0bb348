# Manual pages made at build time from the programs' own --help and
# --version, so the usage text has one source: the program.
option(VELKOR_MAN_PAGES "Make the programs' manual pages with help2man" ON)
if(VELKOR_MAN_PAGES)
  find_program(HELP2MAN_PROGRAM help2man)
  if(NOT HELP2MAN_PROGRAM)
    message(FATAL_ERROR "help2man makes the manual pages: install it (Debian package help2man, "
                        "scripts/deps.sh does) or configure with -DVELKOR_MAN_PAGES=OFF")
  endif()
  find_program(GZIP_PROGRAM gzip REQUIRED)
endif()

# velkor_add_man_page(TARGET SUMMARY [VERSION_TEXT TEXT])
# Makes man/TARGET.1.gz in the build folder from `TARGET --help` and
# `TARGET --version` (VERSION_TEXT stands in for a program without
# --version), and installs it in section 1.
function(velkor_add_man_page target summary)
  if(NOT VELKOR_MAN_PAGES)
    return()
  endif()
  cmake_parse_arguments(ARG "" "VERSION_TEXT" "" ${ARGN})
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  set(version_option "")
  if(ARG_VERSION_TEXT)
    set(version_option "--version-string=${ARG_VERSION_TEXT}")
  endif()
  # QT_QPA_PLATFORM: the window program prints its help without a display.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${HELP2MAN_PROGRAM} --no-info --section=1 --name=${summary} ${version_option}
            --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${GZIP_PROGRAM} -9nf ${page}
    DEPENDS ${target}
    COMMENT "Making the manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}-man-page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
