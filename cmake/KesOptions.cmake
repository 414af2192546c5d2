# One INTERFACE target carries every compile option; every target links it.
# Nobody edits CMAKE_CXX_FLAGS.
add_library(kes_options INTERFACE)
target_compile_features(kes_options INTERFACE cxx_std_20)
target_compile_options(kes_options INTERFACE -Wall -Wextra)
target_compile_definitions(kes_options INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH
  _FILE_OFFSET_BITS=64)
if(KES_WERROR)
  target_compile_options(kes_options INTERFACE -Werror)
endif()
if(KES_SANITIZE)
  target_compile_options(kes_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(kes_options INTERFACE -fsanitize=address,undefined)
endif()
set(CMAKE_CXX_EXTENSIONS OFF)
