set(PRODUCT_COMPILE_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -ffunction-sections)
if(WIN32)
  # msvcrt's own printf and scanf family, not mingw's larger replacements.
  set(PRODUCT_COMPILE_DEFINITIONS __USE_MINGW_ANSI_STDIO=0)
endif()
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Tuned for the 386, whose choices are the short ones (arguments pushed
  # rather than stored): SHA-1 hashes as fast either way, and the big
  # numbers ask for -mtune=generic themselves. The 32-bit Windows compiler
  # keeps a frame pointer unless told otherwise; without it every function
  # is shorter. Together the two take 800 bytes off the installer.
  list(APPEND PRODUCT_COMPILE_OPTIONS -mtune=i386 -fomit-frame-pointer)
endif()

# product_library(name sources...): a static library of installer code.
# The installer is downloaded before anything else, so its code is built small:
# no exceptions, no RTTI, unused sections dropped at link time.
function(product_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${PRODUCT_COMPILE_OPTIONS})
  target_compile_definitions(${name} PRIVATE ${PRODUCT_COMPILE_DEFINITIONS})
endfunction()
