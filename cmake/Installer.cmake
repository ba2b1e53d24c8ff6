# add_installer(<target> DESCRIPTION <file> PAYLOADS <dir> [MIRROR <dir>]
#               [OPTIONS <mkinstaller options>...])
#
# Builds an installer executable that carries the description (with its
# {name:FILE} and {size:FILE} placeholders filled from the payload folder)
# and, unless OPTIONS say otherwise, every payload as an RCDATA resource
# named by its upper-case digest name. MIRROR receives the payloads named by
# their lower-case digest names, the layout a web or FTP server serves.
set(MKINSTALLER ${CMAKE_SOURCE_DIR}/tools/mkinstaller.py)

function(add_installer target)
  cmake_parse_arguments(I "" "DESCRIPTION;PAYLOADS;MIRROR" "OPTIONS;DEPENDS" ${ARGN})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}.res)
  set(rc ${work}/${target}.rc)
  set(link_options ${work}/link-options.rsp)
  set(mirror_option)
  if(I_MIRROR)
    set(mirror_option --mirror ${I_MIRROR})
  endif()
  file(GLOB_RECURSE payloads CONFIGURE_DEPENDS ${I_PAYLOADS}/*)
  add_custom_command(
    OUTPUT ${rc} ${link_options}
    COMMAND ${Python3_EXECUTABLE} ${MKINSTALLER}
      --description ${I_DESCRIPTION} --payloads ${I_PAYLOADS}
      --out ${work} --rc ${rc} --link-options ${link_options} ${mirror_option} ${I_OPTIONS}
    DEPENDS ${MKINSTALLER} ${I_DESCRIPTION} ${payloads} ${I_DEPENDS}
    COMMENT "Generating resources of ${target}")
  add_executable(${target} WIN32 ${rc})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE installer_objects)
  # Page alignment for large payloads is chosen by mkinstaller.
  target_link_options(${target} PRIVATE -static -s -Wl,--gc-sections
    -Wl,--disable-reloc-section @${link_options})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${link_options})
endfunction()
