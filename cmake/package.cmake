# The Debian package: `make package` (the target "package" of a build
# folder) writes zelostrel_VERSION_ARCH.deb. It installs under /usr, with
# the example configuration in /etc/zelostrel/ as a configuration file;
# dpkg-shlibdeps computes the dependencies from the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelostrel)
set(CPACK_PACKAGE_CONTACT "zelostrel maintainers <maintainers@zelostrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "optical tracking device module with host daemon, simulator and monitor")
set(CPACK_PACKAGE_DESCRIPTION "The device module receives six-degree-of-freedom frames of an optical
tracking system over UDP and writes tracker and controller records into a
host daemon's shared memory. The package holds the module, the host daemon
trackhost with its systemd unit trackhost@.service, the simulator
ostrelsim, the monitor trackview, and the storage layout header for readers.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Installed with DESTDIR into the prefix /usr, so that /etc stays /etc and
# the files written at install time name /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
include(CPack)
