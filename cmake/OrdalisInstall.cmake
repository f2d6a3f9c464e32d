# What `cmake --install` puts under the prefix and what CPack packs into the .deb:
#   bin/ordalis                          the command
#   lib/libordalis.so.4.0.0 (soname .so.4) the component, with the .so link for clients
#   lib/ordalis/plugins/*.so             the plug-ins
#   include/ordalis/*.h                  the SDK headers
#   lib/cmake/Ordalis/                   the CMake package: Ordalis::sdk, Ordalis::engine
#   lib/pkgconfig/ordalis.pc             the pkg-config file
#   lib/python3/dist-packages/ordalis/   the Python module and its pytest plug-in (when built)
#   share/doc/ordalis/                   README, docs and examples
#   share/man/man1/ordalis.1             the manual page, made from the `--help` texts
#   share/bash-completion/completions/ordalis, share/zsh/vendor-completions/_ordalis
#                                        completion of commands and options, from the same texts
include(CMakePackageConfigHelpers)

set(ORDALIS_CMAKE_DIR lib/cmake/Ordalis)

# Ordalis::sdk: the headers a tester plug-in builds against; Ordalis::engine: libordalis.so
# for clients that create the component's objects. The exported set names the library target
# ordalis_component; the package's config file gives it its public names.
add_library(ordalis_sdk INTERFACE)
target_include_directories(ordalis_sdk INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
target_compile_features(ordalis_sdk INTERFACE cxx_std_20)
set_target_properties(ordalis_sdk PROPERTIES EXPORT_NAME sdk)
set_target_properties(ordalis_component PROPERTIES EXPORT_NAME engine)
target_link_libraries(ordalis_component INTERFACE ordalis_sdk)
install(TARGETS ordalis_sdk EXPORT OrdalisTargets)
install(TARGETS ordalis_component EXPORT OrdalisTargets
  LIBRARY DESTINATION lib NAMELINK_COMPONENT Unspecified)
install(EXPORT OrdalisTargets NAMESPACE Ordalis:: DESTINATION ${ORDALIS_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/OrdalisConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OrdalisConfig.cmake INSTALL_DESTINATION ${ORDALIS_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrdalisConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrdalisConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/OrdalisConfigVersion.cmake
        DESTINATION ${ORDALIS_CMAKE_DIR})

# The .pc file names paths relative to its own place, so an unpacked or moved prefix still works.
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/ordalis.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/ordalis.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ordalis.pc DESTINATION lib/pkgconfig)

# The manual page, made from `ordalis --help` and every command's own --help.
set(man_page ${CMAKE_CURRENT_BINARY_DIR}/ordalis.1)
add_custom_command(OUTPUT ${man_page}
  COMMAND ${CMAKE_COMMAND} -DORDALIS=$<TARGET_FILE:ordalis_cli> -DOUTPUT=${man_page}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/package/make_man_page.cmake
  DEPENDS ordalis_cli ${PROJECT_SOURCE_DIR}/cmake/package/make_man_page.cmake
  COMMENT "Making the manual page ordalis.1 from the --help texts")
add_custom_target(ordalis_man_page ALL DEPENDS ${man_page})
install(FILES ${man_page} DESTINATION share/man/man1)

# Completion for bash and zsh, made from the same --help texts, where Debian's shells look.
set(bash_completion ${CMAKE_CURRENT_BINARY_DIR}/completion/ordalis)
set(zsh_completion ${CMAKE_CURRENT_BINARY_DIR}/completion/_ordalis)
add_custom_command(OUTPUT ${bash_completion} ${zsh_completion}
  COMMAND ${CMAKE_COMMAND} -DORDALIS=$<TARGET_FILE:ordalis_cli> -DBASH=${bash_completion}
          -DZSH=${zsh_completion} -P ${PROJECT_SOURCE_DIR}/cmake/package/make_completions.cmake
  DEPENDS ordalis_cli ${PROJECT_SOURCE_DIR}/cmake/package/make_completions.cmake
  COMMENT "Making the bash and zsh completion from the --help texts")
add_custom_target(ordalis_completion ALL DEPENDS ${bash_completion} ${zsh_completion})
install(FILES ${bash_completion} DESTINATION share/bash-completion/completions)
install(FILES ${zsh_completion} DESTINATION share/zsh/vendor-completions)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/ordalis)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/ordalis/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION share/doc/ordalis/examples
  PATTERN Results EXCLUDE)

# The Debian package: `cpack -G DEB` in the build tree (configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a package that installs into /usr).
set(CPACK_PACKAGE_NAME ordalis)
set(CPACK_PACKAGE_VENDOR "Ordalis")
set(CPACK_PACKAGE_CONTACT "Ordalis maintainers <ordalis@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test-script engine with tester plug-ins, SDK and Python module")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps works out the libraries the binaries need (libnettle, libxml2, libstdc++...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, python3-pytest")
# The package ships stripped binaries; their debug information goes into ordalis-dbgsym (a
# .ddeb beside the .deb), which debuggers find by build id under /usr/lib/debug.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# dpkg-shlibdeps finds libordalis.so.4, which the Python module needs, in the package itself
# (the folder is relative to the package's staging root; the .deb installs into /usr).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/lib)
set(CPACK_GENERATOR DEB)
include(CPack)
