# Installation layout and the Debian package.
#
# `cmake --install build --prefix P` lays out:
#   P/bin/nuvel-setup, P/bin/nuvel-ini
#   P/libexec/nuvel-setup/NuvelTool             the privileged helper (run through pkexec)
#   P/share/nuvel-setup/engine.luc              the message file shipped with the program
#   P/share/man/man1/nuvel-setup.1.gz, nuvel-ini.1.gz
#   P/share/applications/nuvel-setup.desktop, P/share/icons/hicolor/scalable/apps/nuvel-setup.svg
#   P/share/bash-completion/completions/nuvel-setup, nuvel-ini
#   P/share/doc/nuvel-setup/copyright, changelog.gz
# The program finds the helper and the message file relative to its own folder (the folder
# names are fixed in platform/folders.h), so the layout must not follow GNUInstallDirs' libdir
# or a distribution's own libexec choice. Tests, benchmarks, fuzzers and the development tools
# (make-sample-source, records-server-double, make_luc) are not installed.
#
# `cpack --config build/CPackConfig.cmake -G DEB` (scripts/build-deb.sh) packs that layout under
# /usr, with dependencies found by dpkg-shlibdeps.

set(NUVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(NUVEL_MAINTAINER "nuvel-setup developers <nuvel-setup@example.org>")
set(NUVEL_HOMEPAGE "https://nuvel-setup.example.org/")

# Directories the install creates are 0755 whatever the umask of the one who builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS nuvel-setup nuvel-ini RUNTIME DESTINATION bin)
install(TARGETS NuvelTool RUNTIME DESTINATION libexec/nuvel-setup)
install(FILES ${NUVEL_ENGINE_LUC} DESTINATION share/nuvel-setup)
install(FILES ${NUVEL_PACKAGING_DIR}/nuvel-setup.desktop DESTINATION share/applications)
install(FILES ${NUVEL_PACKAGING_DIR}/nuvel-setup.svg
        DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${NUVEL_PACKAGING_DIR}/nuvel-setup.bash-completion
        DESTINATION share/bash-completion/completions RENAME nuvel-setup)
install(FILES ${NUVEL_PACKAGING_DIR}/nuvel-ini.bash-completion
        DESTINATION share/bash-completion/completions RENAME nuvel-ini)
install(FILES ${NUVEL_PACKAGING_DIR}/copyright DESTINATION share/doc/nuvel-setup)

# The changelog carries the project's version; its date is SOURCE_DATE_EPOCH's when set, so that
# a rebuild of the same commit gives the same file.
string(TIMESTAMP NUVEL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${NUVEL_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)

# Man pages and the changelog go compressed, as Debian's policy wants them; -n leaves the name
# and time out of the gzip header, so the output depends on the contents only.
find_program(NUVEL_GZIP gzip REQUIRED)
set(NUVEL_GZIPPED)
foreach(source IN ITEMS ${NUVEL_PACKAGING_DIR}/nuvel-setup.1 ${NUVEL_PACKAGING_DIR}/nuvel-ini.1
                        ${CMAKE_BINARY_DIR}/packaging/changelog)
  get_filename_component(name ${source} NAME)
  set(gz ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${NUVEL_GZIP} -9 -n -c ${source} > ${gz}
    DEPENDS ${source}
    COMMENT "Compressing ${name}")
  list(APPEND NUVEL_GZIPPED ${gz})
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${NUVEL_GZIPPED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/nuvel-setup.1.gz
              ${CMAKE_BINARY_DIR}/packaging/nuvel-ini.1.gz
        DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/nuvel-setup)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nuvel-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${NUVEL_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "nuvel-setup developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer and maintenance tool for language courses")
set(CPACK_DEBIAN_PACKAGE_NAME nuvel-setup)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NUVEL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${NUVEL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pkexec asks for an administrator's password when an ordinary user installs into the
# machine-wide folder; xdg-open shows web pages; eject ejects an installation disc. Setup works
# without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, xdg-utils, eject")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description; CPack puts the summary above it and indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "nuvel-setup installs, updates and uninstalls the language courses of an
installation source (a disc, a local or network folder), keeps the
installation's settings in records.ini, makes desktop launchers for the
course applications and logs every step.

It runs as a desktop application, on a terminal, or unattended from an
answer file recorded on one machine and replayed on the others of a lab.
nuvel-ini reads and writes the installation's settings files.")

include(CPack)
