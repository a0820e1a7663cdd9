# Install layout and Debian packages.
#
# The controller keeps its programs in /usr/local/bin, beside the external programs the update
# starts there (ZefSw, SwUpdateDaemon); the program and its service tools go there too, so a
# technician on the controller finds them all in one place. The simulator is for a PC only.
#
#   cmake --install build [--prefix DIR] [--component controller|pc]
#   cd build && cpack          # build-armhf: the controller's .deb; build: the PC's
include(GNUInstallDirs)

install(TARGETS zef400-fwupdate zef400-node zef400-hdfcheck
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT controller)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/README.installed
  DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README COMPONENT controller)
install(TARGETS zef400-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT pc)
install(FILES ${PROJECT_SOURCE_DIR}/sim/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.simulator COMPONENT pc)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Firmware update of the ZEF400 RF power amplifier's boards over its two CAN buses")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZEF400 firmware developers")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The package holds exactly the install tree above, at the same place as `cmake --install`.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the libraries the programs load (dpkg-shlibdeps), so they name Debian's own
# Qt 6 packages of the package's architecture.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The components chosen below go into one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(CMAKE_CROSSCOMPILING)
  set(CPACK_PACKAGE_NAME zef400-fwupdate)
  set(CPACK_COMPONENTS_ALL controller)
else()
  # A bench PC: the programs for trying them out, and the simulator playing the rack.
  set(CPACK_PACKAGE_NAME zef400-fwupdate-pc)
  set(CPACK_COMPONENTS_ALL controller pc)
endif()
include(CPack)
