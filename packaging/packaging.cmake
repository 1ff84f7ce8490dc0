# Debian packages with CPack (cpack -G DEB in the build folder):
#   kestrel-engine  the libraries, headers, pkg-config and CMake files;
#   kestrel-tools   kview, kimport, kseed, kdataset-dump and their manual pages;
#   kestrel-server  the request server tessera in /usr/libexec/tessera/ with the sample data
#                   set, its D-Bus activation file and interfaces, tessera-client;
#   kestrel-sample-data  the sample city in /usr/share/kestrel/sample/, for kserve and the
#                   tools without the request server (the container image serves it).
# Each install rule names its package through CMAKE_INSTALL_DEFAULT_COMPONENT_NAME, set by the
# folder it is in. The packages install into /usr without run paths (strip-run-paths.cmake).
set(KESTREL_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_DEB_MAINTAINER "Kestrel developers <kestrel-dev@example.org>")

# copyright and changelog of every package, as Debian wants them.
set(KESTREL_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${KESTREL_DEB_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND gzip -9 -n -c ${KESTREL_PACKAGING_DIR}/changelog > ${KESTREL_DEB_CHANGELOG}
  DEPENDS ${KESTREL_PACKAGING_DIR}/changelog VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${KESTREL_DEB_CHANGELOG})
# The sample data set on its own (architecture-independent files).
install(DIRECTORY ${KESTREL_APPDIR}/kgrid/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel/sample
        COMPONENT sample)

foreach(pair engine:kestrel-engine tools:kestrel-tools server:kestrel-server
             sample:kestrel-sample-data)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${KESTREL_PACKAGING_DIR}/copyright ${KESTREL_DEB_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "kestrel")
set(CPACK_PACKAGE_CONTACT "${KESTREL_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${KESTREL_PACKAGING_DIR}/strip-run-paths.cmake)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL engine tools server sample)
# KESTREL_CPACK_COMPONENTS (environment, a ;-list) makes only those packages, for example
# "engine;sample" for the container image (scripts/build-image.sh).
set(CPACK_PROJECT_CONFIG_FILE ${KESTREL_PACKAGING_DIR}/components.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENGINE_PACKAGE_NAME kestrel-engine)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kestrel-tools)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME kestrel-server)
set(CPACK_DEBIAN_SAMPLE_PACKAGE_NAME kestrel-sample-data)
set(CPACK_DEBIAN_SAMPLE_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_SAMPLE_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_ENGINE_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ENGINE_PACKAGE_DEPENDS "fonts-wqy-zenhei")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "kestrel-engine (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "kestrel-engine (= ${PROJECT_VERSION}), python3, python3-dbus, dbus")
# The libraries' package tells the dynamic loader's cache about them through a trigger.
set(CPACK_DEBIAN_ENGINE_PACKAGE_CONTROL_EXTRA ${KESTREL_PACKAGING_DIR}/triggers)
set(CPACK_COMPONENT_ENGINE_DESCRIPTION "road-map imaging engine and drawing layer
The map engine libkestrel (and its reduced server build libkestrelsrv), the
2D drawing layer libkgdi and the BMP-to-GIF converter libkbmp2gif, with
headers, pkg-config files and a CMake package for clients; and the HTTP map
service kserve (WMS, WMTS, OGC API, XYZ tiles) with its map viewer.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "road-map data-set tools
kview draws views of a map data set into PNG, GIF, BMP or GeoTIFF files,
kimport imports vector geodata (OpenStreetMap, GeoJSON, shapefiles...) into
a data set, kseed renders map tiles into MBTiles or PMTiles archives,
kdataset-dump prints a data set in readable form.")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "road-map request server on the D-Bus session bus
tessera draws map views on request for programs of the same user; the
session bus starts it on first use. With the sample data set and
tessera-client.")
set(CPACK_COMPONENT_SAMPLE_DESCRIPTION "sample data set of the road-map imaging system
A made-up city of 7 x 6 map tiles with roads, rivers, parks, places and
points of interest, in /usr/share/kestrel/sample, for trying kserve, kview
and kseed.")
include(CPack)
