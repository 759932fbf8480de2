# The Debian package: what `scripts/package` builds with CPack.
# Installed as a desktop program: binaries, desktop entry, file types, icons,
# AppStream metainfo, the cable's udev rule, man pages and the package's documents.
include(GNUInstallDirs)
set(TUNLET_APP_ID org.tunlet.Tunlet)
install(TARGETS tunlet tunlet-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${TUNLET_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${TUNLET_APP_ID}.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${TUNLET_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tunlet-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME ${TUNLET_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tunlet.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${TUNLET_APP_ID}.svg)
# Before 73-seat-late.rules, which turns the uaccess tag into the desk user's access.
install(FILES ${PROJECT_SOURCE_DIR}/res/51-usb-blaster.rules DESTINATION lib/udev/rules.d RENAME 60-tunlet-usb-blaster.rules)
find_program(GZIP gzip REQUIRED)
set(TUNLET_COMPRESSED)
foreach(doc res/man/tunlet.1 res/man/tunlet-cli.1 res/debian/changelog)
  get_filename_component(name ${doc} NAME)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/doc/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/doc
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/${doc} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/${doc} VERBATIM)
  list(APPEND TUNLET_COMPRESSED ${gz})
endforeach()
add_custom_target(tunlet_docs ALL DEPENDS ${TUNLET_COMPRESSED})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/tunlet.1.gz ${CMAKE_CURRENT_BINARY_DIR}/doc/tunlet-cli.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tunlet)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tunlet)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tunlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Tunlet developers <dev@tunlet.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send NES music to an FPGA board over a USB-Blaster cable")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tunlet sends NSF, NSFe and NSF2 tunes and iNES ROMs to an FPGA board that
plays them. Drop a file on its window, see a summary of its header, press
Play, and the file streams over an Altera USB-Blaster JTAG cable into the
FPGA's user data register. tunlet-cli does the same from the command line,
and a virtual board shows what the FPGA would receive without any hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tunlet.org/)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

