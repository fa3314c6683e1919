# Read by cpack after its configuration: `cpack -D QUODREL_PACKAGES=library` makes
# the library's packages at the library's own version; plain `cpack` the programs'.
if(QUODREL_PACKAGES STREQUAL "library")
  set(CPACK_PACKAGE_VERSION ${CPACK_QUODREL_LIBRARY_VERSION})
  set(CPACK_COMPONENTS_ALL library development python)
endif()
