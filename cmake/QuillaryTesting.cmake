# quillary_add_test(NAME <folder>_<topic>_test SOURCES <files...>
#                   [MAIN plain|core|gui|widgets|own] [LIBS <targets...>]
#                   [LABELS <labels...>] [TIMEOUT <seconds>] [ENV <VAR=value...>])
#
# One executable per class or topic, named <folder>_<topic>_test after its
# tests/ folder (store_datastore_test, hotkey_x11_test).
#
# MAIN picks the GoogleTest main from tests/support: `plain` (the default, no
# application object), `core` (QCoreApplication: event loop, timers, queued
# calls), `gui` (QGuiApplication) or `widgets` (QApplication); `own` when the
# sources define main themselves. Every main but `plain` links the support
# library (manual clock, waitFor, log capture, temporary profile); a plain test
# that wants it lists test_support in LIBS. NO_MAIN is the old spelling of
# MAIN own, QTEST builds a QtTest executable.
#
# Labels in use: sanitize (also run under ASan and UBSan), tsan (also run
# under ThreadSanitizer), x11 (needs the X server), keyring (needs the session
# bus and its keyring), slow (minutes rather than seconds).
#
# Every test runs with a private HOME and XDG folders under the build tree, so
# nothing touches a real profile, and a test that skipped a case is reported
# as skipped, not passed.
include(GoogleTest)
if(NOT QUILLARY_BUILD_TESTS)
  return()
endif()
find_package(GTest REQUIRED)

function(quillary_add_test)
  cmake_parse_arguments(T "NO_MAIN;QTEST" "NAME;TIMEOUT;MAIN" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_NAME OR NOT T_SOURCES)
    message(FATAL_ERROR "quillary_add_test needs NAME and SOURCES")
  endif()
  if(NOT T_NAME MATCHES "^[a-z0-9]+_[a-z0-9_]+_test$")
    message(AUTHOR_WARNING "test ${T_NAME}: name it <folder>_<topic>_test")
  endif()
  if(T_NO_MAIN)
    set(T_MAIN own)
  elseif(NOT T_MAIN)
    set(T_MAIN plain)
  endif()
  if(NOT T_MAIN MATCHES "^(plain|core|gui|widgets|own)$")
    message(FATAL_ERROR "test ${T_NAME}: MAIN must be plain, core, gui, widgets or own")
  endif()

  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  if(T_QTEST)
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test)
  elseif(T_MAIN STREQUAL "own")
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${T_NAME} PRIVATE test_support_main_${T_MAIN})
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
  # The support main prints the first line only when some case skipped and
  # none failed; QtTest's totals line matches only without failures.
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}"
    LABELS "${T_LABELS}"
    SKIP_REGULAR_EXPRESSION "quillary-test: [0-9]+ of [0-9]+ cases skipped;Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped")
endfunction()
