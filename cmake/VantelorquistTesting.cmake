# vt_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>] [PROCESSORS <n>] [SERIAL] [GUI])
# One GoogleTest binary whose tests are discovered and run by ctest.
function(vt_add_test name)
  cmake_parse_arguments(ARG "SERIAL;GUI" "TIMEOUT;PROCESSORS" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest GTest::gmock project_warnings)
  if(ARG_GUI)
    target_compile_definitions(${name} PRIVATE VT_GUI_TEST)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  endif()
  # Staged copies of the tests go under the build folder, not the user's cache.
  # One value per property: a list here would split into property names.
  set(props TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "XDG_CACHE_HOME=set:${CMAKE_BINARY_DIR}/test-cache"
      FIXTURES_REQUIRED adb_guard)
  if(ARG_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  # A test that keeps several processes busy counts for that many of ctest's slots.
  if(ARG_PROCESSORS)
    list(APPEND props PROCESSORS ${ARG_PROCESSORS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()
