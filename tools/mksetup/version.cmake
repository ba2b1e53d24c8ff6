# Writes mksetup_version.h with the packager's version and the commit it is
# built from; the file is touched only when that changes, so an unchanged
# tree rebuilds nothing. -DSOURCE=, -DOUTPUT=, -DVERSION=.
execute_process(COMMAND git -C ${SOURCE} describe --always --dirty --abbrev=12
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit "unknown")
endif()
file(WRITE ${OUTPUT}.new
  "#define MKSETUP_VERSION \"${VERSION}\"\n#define MKSETUP_COMMIT \"${commit}\"\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
