# Helpers shared by every module's CMakeLists.txt.

# GoogleTest: Debian's packaged library natively; built from Debian's source for Windows.
macro(brasko_setup_gtest)
  if(WIN32)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endmacro()

# brasko_add_test(<target> SOURCES <files...> LIBS <libraries...> [ENVIRONMENT <VAR=value...>] [TIMEOUT <s>]
#                 [FIXTURES <ctest fixtures the tests need>] [ELSEWHERE <gtest patterns...>])
# Builds a GoogleTest program and registers each of its test cases with ctest. Windows programs run through Wine
# (the cross-compiling emulator); their test list is read when ctest runs, inside the Wine session. Cases matching
# ELSEWHERE need a session of their own (another screen, no network), which the caller registers; they are left out
# here so that they do not show as skipped beside the run that takes them.
function(brasko_add_test target)
  if(NOT BRASKO_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;FIXTURES;ELSEWHERE" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  set(properties TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_FIXTURES)
    list(APPEND properties FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  set(filter "*")
  if(ARG_ELSEWHERE)
    list(JOIN ARG_ELSEWHERE ":" elsewhere)
    set(filter "-${elsewhere}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "${filter}"
                       PROPERTIES ${properties})
endfunction()

# brasko_module(<library> [TESTS <test-target>] [EXCLUDE <regex...>] [LIBS <libraries...>] [TEST_LIBS <...>]
#               [TEST_ENVIRONMENT <VAR=value...>] [TEST_FIXTURES <fixtures...>])
# A module folder's library holds every .cpp of the folder except its *_test.cpp files (and those matching EXCLUDE);
# its tests are every *_test.cpp of the folder, in one test program. A folder with no sources yet gives an interface
# library, so a module can be started without touching the build.
function(brasko_module library)
  cmake_parse_arguments(ARG "" "TESTS" "EXCLUDE;LIBS;TEST_LIBS;TEST_ENVIRONMENT;TEST_FIXTURES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  foreach(pattern ${ARG_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(sources)
    add_library(${library} STATIC ${sources})
    target_link_libraries(${library} PUBLIC ${ARG_LIBS})
  else()
    add_library(${library} INTERFACE)
    target_link_libraries(${library} INTERFACE ${ARG_LIBS})
  endif()
  if(ARG_TESTS)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
    if(tests)
      brasko_add_test(${ARG_TESTS} SOURCES ${tests} LIBS ${library} ${ARG_TEST_LIBS}
                      ENVIRONMENT ${ARG_TEST_ENVIRONMENT} FIXTURES ${ARG_TEST_FIXTURES})
    endif()
  endif()
endfunction()
