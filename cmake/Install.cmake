# What `cmake --install` puts where: the programs, the desktop entry and its
# icons, the manual pages, the documents and the udev rule example.
#
# Not installed: velkor-fwpack (a tool for whoever issues firmware files) and
# the demonstration firmware file of build/run. The program upgrades every
# programmer whose firmware is older than the file it finds, so a
# demonstration file in the installed data folder would be written into
# real programmers; the simulated programmers need no file.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake)

set(velkor_packaging ${PROJECT_SOURCE_DIR}/packaging)

# The installed data folder, where the program looks for the firmware file
# after the start directory and the user's data folder. The program finds
# it from where it lies, so an installed tree can be moved (--prefix).
set(VELKOR_DATA_FOLDER ${CMAKE_INSTALL_DATADIR}/velkor350qn)
file(RELATIVE_PATH velkor_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/velkor350qn)
target_compile_definitions(velkor_core PRIVATE VELKOR_INSTALLED_DATA_DIR="${velkor_data_from_bin}")

# velkor-sim lies beside the others: --simulate finds it there.
install(TARGETS velkor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
velkor_add_man_page(velkor-sim "simulated Velkor350QN programmers on pseudo-terminals"
                    VERSION_TEXT "velkor-sim ${PROJECT_VERSION}")

if(TARGET velkor-cli)
  install(TARGETS velkor-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  velkor_add_man_page(velkor-cli "command-line host of the Velkor350QN serial-memory programmer")
endif()

if(TARGET velkor350qn)
  install(TARGETS velkor350qn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  velkor_add_man_page(velkor350qn "host program of the Velkor350QN serial-memory programmer")
  install(FILES ${velkor_packaging}/velkor350qn.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${velkor_packaging}/icons/velkor350qn.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${velkor_packaging}/icons/velkor350qn-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME velkor350qn.png)
  endforeach()
endif()

# The folder exists so that whoever looks after the machine finds where the
# firmware file goes.
install(DIRECTORY DESTINATION ${VELKOR_DATA_FOLDER})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/usage.md ${PROJECT_SOURCE_DIR}/docs/cli.md
              ${PROJECT_SOURCE_DIR}/docs/install.md
              ${PROJECT_SOURCE_DIR}/docs/simulator.md
              ${PROJECT_SOURCE_DIR}/docs/chips.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${velkor_packaging}/70-velkor350qn.rules DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
