# One INTERFACE target carries every compile option; every target links it.
# Nobody edits CMAKE_CXX_FLAGS.
add_library(kes_options INTERFACE)
target_compile_features(kes_options INTERFACE cxx_std_20)
target_compile_options(kes_options INTERFACE -Wall -Wextra -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(kes_options INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH
  QT_DISABLE_DEPRECATED_UP_TO=0x060400
  _FILE_OFFSET_BITS=64)
# The program's own code never turns 8-bit strings into text unnoticed and
# builds strings without temporaries. Test code (targets with the property
# KES_TEST_CODE) spells its fixtures as plain literals, as Qt's own tests do.
set(_kes_product_code "$<NOT:$<BOOL:$<TARGET_PROPERTY:KES_TEST_CODE>>>")
target_compile_definitions(kes_options INTERFACE
  $<${_kes_product_code}:QT_NO_CAST_FROM_ASCII>
  $<${_kes_product_code}:QT_USE_QSTRINGBUILDER>)
if(KES_WERROR)
  target_compile_options(kes_options INTERFACE -Werror)
endif()
if(KES_SANITIZE)
  target_compile_options(kes_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(kes_options INTERFACE -fsanitize=address,undefined)
endif()
set(CMAKE_CXX_EXTENSIONS OFF)
