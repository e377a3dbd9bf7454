quillary_add_test(NAME PreviewGeneratorTest
  SOURCES PreviewGeneratorTest.cpp
  LIBS quicklook platform_plist Qt6::Core
  LABELS sanitize
  ENV QUILLARY_PREVIEW_BUNDLE=${QUILLARY_PREVIEW_BUNDLE})
quillary_add_test(NAME PreviewHostTest
  SOURCES PreviewHostTest.cpp
  LIBS platform_plist Qt6::Core
  LABELS sanitize
  ENV QUILLARY_PREVIEW_HOST=$<TARGET_FILE:quillary-preview> QUILLARY_PREVIEW_BUNDLE=${QUILLARY_PREVIEW_BUNDLE})
add_dependencies(PreviewHostTest quillary-preview Quillary_Quick_Look)
