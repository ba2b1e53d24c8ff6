# GoogleTest from the sources Debian installs, built with the project's own
# compiler (mingw for the Wine run, the host compiler for the native run).
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(BUILD_TESTING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(WIN32)
    # GoogleTest is test code: exceptions and RTTI are fine there.
    target_link_options(gtest PUBLIC -static)
  endif()
endif()

# add_unit_test(name SOURCES a.cpp ... LIBS lib ...)
# One GoogleTest executable, run as one ctest test (under Wine when cross-built).
function(add_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# add_server_test(name DRIVER run.py SOURCES a.cpp ... LIBS lib ...)
# A network test program (with tests/net/nettest.h) run by a Python driver
# of tests/net that starts its servers on 127.0.0.1 and stops them after.
function(add_server_test name)
  cmake_parse_arguments(T "" "DRIVER" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} nettest gtest_main gtest)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/net/${T_DRIVER} $<TARGET_FILE:${name}>)
endfunction()
