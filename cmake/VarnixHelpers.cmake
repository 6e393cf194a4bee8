include(GoogleTest)

# varnix_add_library(NAME HEADERS h... SOURCES cpp... DEPS targets...)
#   One library target per source folder; the folder itself is the include root of its headers
#   (code includes "common/CommonClasses.h" relative to src/).
function(varnix_add_library name)
  cmake_parse_arguments(A "" "" "HEADERS;SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES} ${A_HEADERS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# Test programs that start threads also run under ThreadSanitizer; they are collected here.
set_property(GLOBAL PROPERTY VARNIX_THREADED_TESTS "")

# varnix_add_test(NAME SOURCES cpp... LIBS targets... [THREADED] [LABELS l...])
#   One GoogleTest program, registered with CTest as one test per test case.
function(varnix_add_test name)
  cmake_parse_arguments(A "THREADED" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set(labels ${A_LABELS})
  if(A_THREADED)
    list(APPEND labels threaded)
    set_property(GLOBAL APPEND PROPERTY VARNIX_THREADED_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()
