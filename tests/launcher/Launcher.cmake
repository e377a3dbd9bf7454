quillary_add_test(NAME launcher_login_test
  SOURCES LauncherTest.cpp
  LIBS launcher test_support Qt6::Core
  LABELS sanitize
  ENV QUILLARY_LAUNCHER=$<TARGET_FILE:Quillary-Launcher>)
add_dependencies(launcher_login_test Quillary-Launcher)
