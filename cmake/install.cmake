# What `cmake --install` puts where, the CMake package and the pkg-config
# file, and the packages CPack makes: a .deb on Linux, a zip on Windows
# (`cmake --build <build> --target package`).
include(CMakePackageConfigHelpers)

set(QVX_PACKAGE_SUMMARY "Data-acquisition library for Kestro USB measurement modules")
set(QVX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvex)

# The library and the simulated driver lie side by side, as in the build
# tree: the library loads the driver from its own folder, and a real driver
# takes the place of the simulated one by replacing its file.
install(TARGETS quorvex kestrolib EXPORT quorvex-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  get_target_property(msvc_import_library quorvex QVX_MSVC_IMPORT_LIBRARY)
  if(msvc_import_library)
    install(FILES ${msvc_import_library} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endif()
install(FILES include/quorvex.h include/quorvex.hpp include/quorvex_status.h include/quorvex.def
  sim/include/kestro_sim.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS quorvex_info RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qvx)
  install(TARGETS qvx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

file(GLOB docs ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES README.md ${docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# find_package(quorvex): the targets, relocatable, and a version file that
# accepts the same major version.
install(EXPORT quorvex-targets NAMESPACE quorvex:: DESTINATION ${QVX_CMAKE_DIR}
  FILE quorvex-targets.cmake)
configure_package_config_file(cmake/quorvex-config.cmake.in quorvex-config.cmake
  INSTALL_DESTINATION ${QVX_CMAKE_DIR})
write_basic_package_version_file(quorvex-config-version.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvex-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quorvex-config-version.cmake DESTINATION ${QVX_CMAKE_DIR})

# pkg-config: paths relative to the .pc file's own folder, so that the
# installed tree may be moved.
string(REGEX REPLACE "[^/]+" ".." QVX_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
configure_file(cmake/quorvex.pc.in quorvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Packages.
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR Quorvex)
set(CPACK_PACKAGE_CONTACT "Quorvex developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${QVX_PACKAGE_SUMMARY}")
set(CPACK_PACKAGE_DESCRIPTION "The C library (libquorvex, QUORVEX.dll) with its C++ \
interface, the tools qvx and quorvex_info, and the simulated module that stands in for the \
driver library kestrolib until the maker's driver replaces it.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  # Dependencies from the shared libraries the binaries need (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The shlibs entry of libquorvex.so.6, for packages built against it (the
  # simulated driver has no versioned soname on purpose: the library loads it
  # by its file name). CPack adds the ldconfig calls.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/deb/shlibs
    "libquorvex ${PROJECT_VERSION_MAJOR} quorvex (>= ${PROJECT_VERSION})\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/deb/shlibs)
endif()
include(CPack)
