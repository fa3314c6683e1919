# Read by cpack after its configuration: `cpack -D QUODREL_PACKAGES=library` makes
# the library's packages at the library's own version, `cpack -D QUODREL_PACKAGES=python`
# the Python module's at the module's; plain `cpack` the programs'.
if(QUODREL_PACKAGES STREQUAL "library")
  set(CPACK_PACKAGE_VERSION ${CPACK_QUODREL_LIBRARY_VERSION})
  set(CPACK_COMPONENTS_ALL library development)
elseif(QUODREL_PACKAGES STREQUAL "python")
  set(CPACK_PACKAGE_VERSION ${CPACK_QUODREL_PYTHON_VERSION})
  set(CPACK_COMPONENTS_ALL python)
endif()
