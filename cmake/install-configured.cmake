# Run by `cmake --install` (see install.cmake): writes the example
# configurations and the service unit with the paths of this installation.
set(prefix "${CMAKE_INSTALL_PREFIX}")
# As GNUInstallDirs has it: the prefix /usr keeps its configuration in /etc.
if(prefix STREQUAL "/usr")
  set(confdir "/etc/zelostrel")
else()
  set(confdir "${prefix}/etc/zelostrel")
endif()
set(module "${prefix}/${zelostrel_libdir}/libzelostrel.so")

file(REMOVE_RECURSE "${zelostrel_staging}")
file(GLOB examples "${zelostrel_source}/examples/*.conf")
foreach(example ${examples})
  file(READ "${example}" text)
  string(REPLACE "../build/default/device/libzelostrel.so" "${module}" text "${text}")
  string(REPLACE "build/default/host/" "" text "${text}")
  string(REPLACE "build/default/tools/" "" text "${text}")
  get_filename_component(name "${example}" NAME)
  file(WRITE "${zelostrel_staging}/examples/${name}" "${text}")
endforeach()
file(INSTALL DESTINATION "${prefix}/${zelostrel_datadir}/zelostrel" TYPE DIRECTORY FILES "${zelostrel_staging}/examples")

# The configuration in the configuration folder is the user's once it is
# there: a second installation leaves it as it is.
if(NOT EXISTS "$ENV{DESTDIR}${confdir}/simulator.conf")
  file(INSTALL DESTINATION "${confdir}" TYPE FILE FILES "${zelostrel_staging}/examples/simulator.conf")
endif()

set(BINDIR "${prefix}/${zelostrel_bindir}")
set(CONFDIR "${confdir}")
set(DOCDIR "${prefix}/${zelostrel_docdir}")
configure_file("${zelostrel_source}/packaging/trackhost@.service.in" "${zelostrel_staging}/trackhost@.service" @ONLY)
file(INSTALL DESTINATION "${prefix}/lib/systemd/system" TYPE FILE FILES "${zelostrel_staging}/trackhost@.service")
