# What is shipped besides the programs and the class libraries (which their
# own folders install), and how CPack packs the install tree:
#
#   cpack -G DEB   morvane_<version>_<arch>.deb, the tree under /usr
#   cpack -G TGZ   morvane-<version>-<system>.tar.gz, the same tree
#   cpack -G ZIP   the same for a Windows build
#
# Nothing here is for one system only unless it says so: documentation and
# examples go wherever the install directories point.

# The documentation keeps the source tree's layout, so its links between
# files hold in the installed copy too. The repository's README is for
# developers (scripts, the build folder); the installed tree has its own.
install(FILES packaging/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/simulator.md docs/troubleshooting.md docs/bench.md docs/size.md docs/debugging.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES runtime/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/runtime)
install(FILES desktop/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/desktop)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  FILES_MATCHING PATTERN "*.java" PATTERN "*.bench.toml")
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the change log, compressed as Debian wants them (gzip -9n:
# no name or time stamp in the header), where manual pages are read.
if(UNIX)
  find_program(MORVANE_GZIP gzip REQUIRED)
  set(compressed)
  foreach(source docs/man/morvanedirect.1 docs/man/morvane-sim.1 docs/man/morvane-desktop.1 docs/man/morvane-run.1 docs/man/morvane-size.1
                 packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/packaging/${name})
    add_custom_command(
      OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/${source} ${copy}
      COMMAND ${MORVANE_GZIP} -9nf ${copy}
      DEPENDS ${CMAKE_SOURCE_DIR}/${source}
      VERBATIM)
    list(APPEND compressed ${copy}.gz)
  endforeach()
  add_custom_target(morvane_compressed_docs ALL DEPENDS ${compressed})
  list(FILTER compressed INCLUDE REGEX "\\.1\\.gz$")
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "MorvaneDirect developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "link and download Java programs for the Morvane module")
# Written in lines a package manager shows as they are.
set(CPACK_PACKAGE_DESCRIPTION [[
MorvaneDirect links a Java program's main class and every class it needs
into a compact Mox image, finds the Morvane module on a serial port,
downloads the image and resets the module. With --listen it prints what
the program sends back, uncaught exceptions with their source file and
line, and passes typed keys to the program.

The package holds morvanedirect; morvane-sim, a simulated module that
needs no board; morvane-run, which runs a program on the simulated module
with scripted inputs as a test and writes its pins as a waveform;
morvane-desktop, which runs a program on a desktop Java
VM; morvane-size, which shows where a program's bytes go against the
module's limits; the Java class library programs are compiled against, with its
sources; manual pages, the user's guide, a troubleshooting guide and
examples.]])
set(CPACK_PACKAGE_CONTACT "${MORVANE_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR TGZ)
set(CPACK_SOURCE_GENERATOR "")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs are compiled with ecj; morvane-desktop needs a Java runtime, which
# ecj brings too.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ecj")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-jre-headless | java8-runtime-headless")

include(CPack)
