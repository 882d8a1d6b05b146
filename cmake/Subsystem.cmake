# One static library per folder: every .cpp directly in the folder is a source.
# The repository root is the include root, so code includes "platform/base/AfxStr.h".
function(add_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSTEM_LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_SYSTEM_LIBS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_SYSTEM_LIBS} Threads::Threads)
  endif()
endfunction()

# One GoogleTest executable per test folder: every *_test.cpp in it.
# LABELS: "unit" runs in the plain and sanitizer builds; "tsan" also in the thread-sanitizer build;
# "noasan" keeps a test out of the sanitizer runs (tests that drive outside programs at length).
# WM_FILTER: a gtest filter of the folder's on-screen tests, which run a second time under a
# window manager (openbox on their private screen, tests/support/XvfbDisplay.h), as copies named
# with ".openbox" and labelled "wm", in the plain build only.
function(add_test_folder name)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK;WM_FILTER" "DEPS;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    TEST_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
    PROJECT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PROJECT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  # A value-parameterized test is named by its index or by the suite's name generator, never by
  # the printed value (a struct prints as raw bytes).
  gtest_discover_tests(${name} NO_PRETTY_VALUES PROPERTIES TIMEOUT 300 DISCOVERY_TIMEOUT 60)
  # A label list passed through the discovery's PROPERTIES arrives split in two, so the labels are
  # set on every discovered test once the discovery has run.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
    "endif()\n")
  # Tests that hold a resource of the machine (a fixed port) run one at a time.
  if(ARG_RESOURCE_LOCK)
    file(APPEND ${labels_file}
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${ARG_RESOURCE_LOCK}\")\n"
      "endif()\n")
  endif()
  if(ARG_WM_FILTER)
    gtest_discover_tests(${name} NO_PRETTY_VALUES TEST_FILTER "${ARG_WM_FILTER}" TEST_SUFFIX .openbox
                         TEST_LIST ${name}_WM_TESTS DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300 ENVIRONMENT KESTRIN_TEST_WM=openbox)
    file(APPEND ${labels_file}
      "if(${name}_WM_TESTS)\n"
      "  set_tests_properties(\${${name}_WM_TESTS} PROPERTIES LABELS \"unit;noasan;wm\")\n")
    if(ARG_RESOURCE_LOCK)
      file(APPEND ${labels_file}
        "  set_tests_properties(\${${name}_WM_TESTS} PROPERTIES RESOURCE_LOCK \"${ARG_RESOURCE_LOCK}\")\n")
    endif()
    file(APPEND ${labels_file} "endif()\n")
  endif()
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()
