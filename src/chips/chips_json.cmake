# The catalogue file chips.json: written from the compiled chip table by
# velkor-chips-json whenever the table changes, never edited by hand.
# It lies in the build tree where the built programs (build/ui, build/cli)
# look for their installed data folder, so that they read it as an
# installed program does, and it is installed into that folder.
# Included before the tests, which read it (VELKOR_CHIPS_JSON).
include(GNUInstallDirs)
add_executable(velkor-chips-json ${CMAKE_CURRENT_LIST_DIR}/chips_json_main.cpp)
target_link_libraries(velkor-chips-json PRIVATE velkor_core)

# The installed data folder seen from the installed programs' folder, as
# cmake/Install.cmake gives it to the program.
file(RELATIVE_PATH velkor_chips_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/velkor350qn)
cmake_path(ABSOLUTE_PATH velkor_chips_data_from_bin BASE_DIRECTORY ${CMAKE_BINARY_DIR}/cli NORMALIZE
           OUTPUT_VARIABLE velkor_build_data_folder)
set(VELKOR_CHIPS_JSON ${velkor_build_data_folder}/chips.json CACHE INTERNAL "the catalogue file of the build tree")
add_custom_command(OUTPUT ${VELKOR_CHIPS_JSON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${velkor_build_data_folder}
  COMMAND velkor-chips-json ${VELKOR_CHIPS_JSON}
  DEPENDS velkor-chips-json
  COMMENT "Writing the chip catalogue file chips.json")
add_custom_target(chips_json ALL DEPENDS ${VELKOR_CHIPS_JSON})
install(FILES ${VELKOR_CHIPS_JSON} DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor350qn)
