# quillary_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>]
#                   [LABELS <labels...>] [TIMEOUT <seconds>] [ENV <VAR=value...>])
#
# One executable per class or topic. GoogleTest sources get gtest_main unless
# they define their own main (pass NO_MAIN). Every test runs with a private
# HOME and XDG folders under the build tree, so nothing touches a real profile.
include(GoogleTest)
if(NOT QUILLARY_BUILD_TESTS)
  return()
endif()
find_package(GTest REQUIRED)

function(quillary_add_test)
  cmake_parse_arguments(T "NO_MAIN;QTEST" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_NAME OR NOT T_SOURCES)
    message(FATAL_ERROR "quillary_add_test needs NAME and SOURCES")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  if(T_QTEST)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
  elseif(T_NO_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
  set(env
    HOME=${home}
    XDG_DATA_HOME=${home}/.local/share
    XDG_CONFIG_HOME=${home}/.config
    XDG_CACHE_HOME=${home}/.cache
    QT_QPA_PLATFORM=offscreen
    QUILLARY_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    ${T_ENV})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}"
    LABELS "${T_LABELS}")
endfunction()
