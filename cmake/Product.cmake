# product_library(name sources...): a static library of installer code.
# The installer is downloaded before anything else, so its code is built small:
# no exceptions, no RTTI, unused sections dropped at link time.
function(product_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti
    -ffunction-sections -fdata-sections)
endfunction()
