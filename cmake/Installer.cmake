# add_installer(<target> DESCRIPTION <template> PAYLOADS <dir> [MIRROR <dir>]
#               [OPTIONS <mksetup build options>...] [DEPENDS <files>...])
#
# Builds <target>.exe with the packager (mksetup build), for this build's
# architecture (QUILLON_ARCH, x86 or x64): the description
# with its {name:FILE} and {size:FILE} placeholders filled from the payload
# folder, and, unless OPTIONS say otherwise, every payload it names. MIRROR
# receives every file named by its lower-case digest name, the layout a web
# or FTP server serves. The listing goes to <target>.txt.
function(add_installer target)
  cmake_parse_arguments(I "" "DESCRIPTION;PAYLOADS;MIRROR" "OPTIONS;DEPENDS" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}.exe)
  set(mirror_option)
  if(I_MIRROR)
    set(mirror_option --mirror ${I_MIRROR})
  endif()
  file(GLOB_RECURSE payloads CONFIGURE_DEPENDS ${I_PAYLOADS}/*)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${MKSETUP} build ${I_DESCRIPTION} -o ${output} --payloads ${I_PAYLOADS}
      --arch ${QUILLON_ARCH} ${mirror_option} ${I_OPTIONS} > ${CMAKE_CURRENT_BINARY_DIR}/${target}.txt
    DEPENDS ${MKSETUP} ${I_DESCRIPTION} ${payloads} ${I_DEPENDS}
    COMMENT "Packaging ${target}")
  add_custom_target(${target} ALL DEPENDS ${output})
  add_dependencies(${target} mksetup_native)
endfunction()

# add_forged_installer(<target> FROM <installer target> [OPTIONS <forge options>...]
#                      [DEPENDS <files>...])
#
# A copy of an installer made wrong on purpose for the tests
# (tests/tools/mksetup/forge_installer.cpp).
function(add_forged_installer target)
  cmake_parse_arguments(F "" "FROM" "OPTIONS;DEPENDS" ${ARGN})
  set(input ${CMAKE_CURRENT_BINARY_DIR}/${F_FROM}.exe)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}.exe)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${FORGE_INSTALLER} ${input} ${output} ${F_OPTIONS}
    DEPENDS ${FORGE_INSTALLER} ${input} ${F_DEPENDS}
    COMMENT "Forging ${target}" VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  add_dependencies(${target} ${F_FROM} mksetup_native)
endfunction()
