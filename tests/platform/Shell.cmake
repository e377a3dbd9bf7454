# Application shell (single instance, bus interfaces, quit roads). The bus
# cases need the session bus that scripts/test starts and are skipped without
# one.
add_executable(platform_shell_test_helper ${CMAKE_CURRENT_LIST_DIR}/ShellTestHelper.cpp)
target_link_libraries(platform_shell_test_helper PRIVATE platform_shell)
quillary_add_test(NAME platform_shell_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ShellTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ShellBusTest.cpp
  LIBS platform_shell Qt6::Test
  MAIN gui
  LABELS sanitize)
target_compile_definitions(platform_shell_test PRIVATE
  QUILLARY_SHELL_TEST_HELPER="$<TARGET_FILE:platform_shell_test_helper>")
add_dependencies(platform_shell_test platform_shell_test_helper)

# The shell as a client of a real X session manager (checkpoints and logout),
# on the X server that scripts/test starts.
pkg_check_modules(XSMP IMPORTED_TARGET sm ice)
if(XSMP_FOUND)
  quillary_add_test(NAME platform_shell_session_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ShellSessionTest.cpp
    LIBS platform_shell PkgConfig::XSMP
    MAIN gui
    LABELS x11)
  target_compile_definitions(platform_shell_session_test PRIVATE
    QUILLARY_SHELL_TEST_HELPER="$<TARGET_FILE:platform_shell_test_helper>")
  add_dependencies(platform_shell_session_test platform_shell_test_helper)
endif()
