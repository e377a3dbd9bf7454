# One source, two backends: the in-memory one under the sanitizers, the
# Secret Service one against the test session's gnome-keyring-daemon.
quillary_add_test(NAME WebSyncSecretsMemoryTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncSecretsTest.cpp
  LIBS sync platform_secret
  LABELS sanitize
  ENV QUILLARY_SECRET_BACKEND=memory)
quillary_add_test(NAME WebSyncSecretsKeyringTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncSecretsTest.cpp
  LIBS sync platform_secret
  ENV QUILLARY_SECRET_BACKEND=libsecret)
