# GoogleTest from Debian's source package, built with this project's own flags (sanitizers, MinGW).
if(QZ_TESTS)
  enable_testing()
  set(QZ_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS ${QZ_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest source not found at ${QZ_GTEST_SOURCE}: run scripts/setup")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ${WIN32} CACHE BOOL "" FORCE)
  add_subdirectory(${QZ_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# qz_add_gtest(name sources... LIBS libs...): one test executable; every case is a CTest test.
# Windows test executables run under Wine (CMAKE_CROSSCOMPILING_EMULATOR) through run-gtest.sh,
# which fails a run that ends without GoogleTest's closing line. The tests are discovered when
# CTest starts; an executable that lists no test at all becomes one failing test
# <name>_NO_TESTS_FOUND instead of silently adding nothing.
function(qz_add_gtest name)
  if(NOT QZ_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
      "bash;${PROJECT_SOURCE_DIR}/cmake/run-gtest.sh;${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests PROPERTIES TIMEOUT 300)
  # Read by CTest after the discovery's own file, which sets <name>_TESTS. An empty list is not
  # kept: the next run discovers again (the file name is the one GoogleTest.cmake gives it).
  set(tests_file "${CMAKE_CURRENT_BINARY_DIR}/${name}[1]_tests.cmake")
  string(CONFIGURE [=[
if(NOT @name@_TESTS)
  file(REMOVE "@tests_file@")
  add_test(@name@_NO_TESTS_FOUND bash -c "echo 'FAIL: @name@ listed no tests: the program did not run (under Wine, a 32-bit program prints nothing when the 32-bit side of Wine is missing)' >&2; exit 1")
endif()
]=] check_content @ONLY)
  set(check ${CMAKE_CURRENT_BINARY_DIR}/${name}_discovery_check.cmake)
  file(WRITE ${check} "${check_content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${check})
endfunction()

# qz_add_test_folder(PREFIX LIBS libs... [DEFINITIONS definitions...]): the tests of the calling
# folder. Its support/*.cpp are compiled once, into the library <PREFIX>_test_support (include
# root: the project; QZ_BUILD_DIR, QZ_SOURCE_DIR and DEFINITIONS defined), which links LIBS; each
# *_test.cpp becomes the test executable <PREFIX>_<name>: plain ones natively and, in the Windows
# build, under Wine; *_posix_test.cpp natively only; *_win_test.cpp under Wine only.
function(qz_add_test_folder prefix)
  cmake_parse_arguments(ARG "" "" "LIBS;DEFINITIONS" ${ARGN})
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp)
  file(GLOB portable CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB posix_only CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_posix_test.cpp)
  file(GLOB win_only CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_win_test.cpp)
  list(REMOVE_ITEM portable ${posix_only} ${win_only} "")
  if(WIN32)
    set(tests ${portable} ${win_only})
  else()
    set(tests ${portable} ${posix_only})
  endif()
  add_library(${prefix}_test_support STATIC ${support} ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${prefix}_test_support PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${prefix}_test_support PUBLIC
    QZ_BUILD_DIR="${CMAKE_BINARY_DIR}" QZ_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ${ARG_DEFINITIONS})
  target_link_libraries(${prefix}_test_support PUBLIC ${ARG_LIBS} GTest::gtest)
  foreach(test_source IN LISTS tests)
    get_filename_component(name ${test_source} NAME_WE)
    qz_add_gtest(${prefix}_${name} ${test_source} LIBS ${prefix}_test_support ${ARG_LIBS})
  endforeach()
endfunction()
