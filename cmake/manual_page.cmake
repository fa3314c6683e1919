# Writes a manual page with the versions filled in (its version line names
# @QUODREL_VERSION@ or @QUODREL_LIBRARY_VERSION@), compressed as Debian keeps them (-n:
# the same bytes every build). Run at build time:
#   cmake -DSOURCE=doc/page -DPAGE=page -DQUODREL_VERSION=... -DQUODREL_LIBRARY_VERSION=...
#         -DGZIP=gzip -P manual_page.cmake
configure_file(${SOURCE} ${PAGE} @ONLY)
execute_process(COMMAND ${GZIP} -9 -n -c ${PAGE} OUTPUT_FILE ${PAGE}.gz RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip ${PAGE}: ${failed}")
endif()
