# History pruning against its owner's shutdown, also under the thread checker.
quillary_add_test(NAME sync_history_prune_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HistoryPruneTest.cpp
  LIBS sync store
  LABELS sanitize tsan
  MAIN core)
