quillary_add_test(NAME quicklook_generator_test
  SOURCES PreviewGeneratorTest.cpp
  LIBS quicklook platform_plist Qt6::Core
  LABELS sanitize
  ENV QUILLARY_PREVIEW_BUNDLE=${QUILLARY_PREVIEW_BUNDLE})
quillary_add_test(NAME quicklook_host_test
  SOURCES PreviewHostTest.cpp
  LIBS platform_plist Qt6::Core
  LABELS sanitize
  ENV QUILLARY_PREVIEW_HOST=$<TARGET_FILE:quillary-preview> QUILLARY_PREVIEW_BUNDLE=${QUILLARY_PREVIEW_BUNDLE})
add_dependencies(quicklook_host_test quillary-preview Quillary_Quick_Look)
