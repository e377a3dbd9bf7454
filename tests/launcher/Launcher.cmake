quillary_add_test(NAME LauncherTest
  SOURCES LauncherTest.cpp
  LIBS launcher test_support Qt6::Core
  LABELS sanitize
  ENV QUILLARY_LAUNCHER=$<TARGET_FILE:Quillary-Launcher>)
add_dependencies(LauncherTest Quillary-Launcher)
