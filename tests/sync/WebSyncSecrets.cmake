# One source, two backends: the in-memory one under the sanitizers, the
# Secret Service one against the test session's gnome-keyring-daemon.
quillary_add_test(NAME sync_websync_secrets_memory_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncSecretsTest.cpp
  LIBS sync platform_secret
  LABELS sanitize
  ENV QUILLARY_SECRET_BACKEND=memory)
quillary_add_test(NAME sync_websync_secrets_keyring_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSyncSecretsTest.cpp
  LIBS sync platform_secret
  LABELS keyring
  # Failures can be injected into the in-memory backend only.
  ENV QUILLARY_SECRET_BACKEND=libsecret GTEST_FILTER=-*.KeyringFailureIsReportedAndNeverReadAsNoPassword)
