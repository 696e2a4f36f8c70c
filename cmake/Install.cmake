# Installed layout (GNU directories under the prefix):
#   bin/talvex_bnx_utils, bin/talvex_setup_parser      (one folder: extraction runs the parser
#                                                       from the folder of talvex_bnx_utils)
#   share/man/man1/talvex_bnx_utils.1.gz, talvex_setup_parser.1.gz
#   share/bash-completion/completions/talvex_bnx_utils, talvex_setup_parser
#   share/talvex-bnx-utils/schema/*.schema.json           (JSON Schemas of the --json documents)
#   lib/python3/dist-packages/talvex_bnx (prefix /usr), lib/python3.X/dist-packages/talvex_bnx
#                                                      (other prefixes): where Debian's python3 looks
# and the Debian package built from it by `cpack -G DEB`.
include(GNUInstallDirs)

# Both programs come from their own CMakeLists with DESTINATION bin; the parser has to stay
# next to the tool, so the two rules must name the same folder.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin")
  message(FATAL_ERROR "CMAKE_INSTALL_BINDIR must stay \"bin\": talvex_bnx_utils finds talvex_setup_parser in its own folder")
endif()

# Man pages are installed compressed, as Debian ships them; -n keeps the archive reproducible.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(talvex_man_pages talvex_bnx_utils.1 talvex_setup_parser.1)
set(talvex_man_gz)
foreach(page ${talvex_man_pages})
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/man/${page} ${CMAKE_BINARY_DIR}/man/${page}
    COMMAND ${GZIP_EXECUTABLE} -9nf ${CMAKE_BINARY_DIR}/man/${page}
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${page}
    VERBATIM)
  list(APPEND talvex_man_gz ${gz})
endforeach()
add_custom_target(talvex_man ALL DEPENDS ${talvex_man_gz})
install(FILES ${talvex_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads a completion file by the command's name: one file serves both.
foreach(cmd talvex_bnx_utils talvex_setup_parser)
  install(FILES ${CMAKE_SOURCE_DIR}/completion/talvex_bnx_utils
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${cmd})
endforeach()

file(GLOB talvex_json_schemas ${CMAKE_SOURCE_DIR}/schemas/json/*.schema.json)
install(FILES ${talvex_json_schemas} DESTINATION ${CMAKE_INSTALL_DATADIR}/talvex-bnx-utils/schema)

# The Python module. Debian's python3 reads /usr/lib/python3/dist-packages, but under any other
# prefix (/usr/local) only the versioned folder; the prefix is known only when installing (and
# ends in /usr inside the package's staging folder).
set(Python3_FIND_STRATEGY LOCATION)
set(Python3_ROOT_DIR /usr)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
install(CODE "
  set(talvex_py lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/dist-packages)
  if(CMAKE_INSTALL_PREFIX MATCHES \"/usr$\")
    set(talvex_py lib/python3/dist-packages)
  endif()
  file(INSTALL ${CMAKE_SOURCE_DIR}/tools/python/talvex_bnx DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${talvex_py}\"
       PATTERN __pycache__ EXCLUDE)
")

# Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "talvex-bnx-utils")
set(CPACK_PACKAGE_VERSION "2025.09.11")
set(CPACK_PACKAGE_CONTACT "talvex_bnx_utils developers <talvex-bnx-utils@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build, inspect, extract, combine and post-encrypt TZ100..TZ600 NPU model containers")
set(CPACK_PACKAGE_DESCRIPTION "talvex_bnx_utils works on the model containers (.bnx) of the TZ100 to TZ600 NPU chips
and on the compiler's model files (.txm); talvex_setup_parser writes the JSON view of a setup.bin.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  # The dependencies follow from the shared libraries the two programs really link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # Debian 12 names of the libraries linked (fmt, spdlog, jsoncpp, zlib, the C++ runtime).
  set(talvex_deb_depends "libc6, libstdc++6, libgcc-s1, libfmt9, libspdlog1.10-fmt9, libjsoncpp25, zlib1g")
  pkg_check_modules(TALVEX_ISAL_PKG QUIET libisal)
  if(TALVEX_ISAL_PKG_FOUND)
    string(APPEND talvex_deb_depends ", libisal2")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${talvex_deb_depends}")
endif()
include(CPack)
