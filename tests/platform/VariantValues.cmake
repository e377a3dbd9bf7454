quillary_add_test(NAME platform_variant_values_test
  SOURCES VariantValuesTest.cpp
  LIBS platform_core)
