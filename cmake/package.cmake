# The Debian package of the console and the simulator (scripts/package.sh builds it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Test and configuration console for the Varnok panel device (Modbus RTU)")
set(CPACK_PACKAGE_DESCRIPTION "Finds the three-channel Varnok panel device on a serial line (directly or through
an RS-485 converter), shows its readings, reads and changes its interface
parameters, scales and setpoints, and calibrates its channels and PWM outputs.
Every exchange is shown in hexadecimal. Includes varnok-sim, a simulator of the
device on a pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varnok console team <varnok@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The libraries' Debian packages come from dpkg-shlibdeps; the Qt platform plugins are
# loaded at run time, so no library link names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
