# One INTERFACE target carries the settings every Kestrove target shares.
add_library(kestrove_common INTERFACE)
add_library(Kestrove::common ALIAS kestrove_common)

target_compile_features(kestrove_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)

if(MSVC)
  target_compile_options(kestrove_common INTERFACE /W4 /permissive- /utf-8)
  if(KESTROVE_WERROR)
    target_compile_options(kestrove_common INTERFACE /WX)
  endif()
else()
  target_compile_options(kestrove_common INTERFACE -Wall -Wextra)
  if(KESTROVE_WERROR)
    target_compile_options(kestrove_common INTERFACE -Werror)
  endif()
endif()

if(WIN32)
  target_compile_definitions(kestrove_common INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
endif()

# Qt code must spell out its string conversions.
target_compile_definitions(kestrove_common INTERFACE QT_NO_CAST_FROM_ASCII)

if(KESTROVE_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "KESTROVE_SANITIZE is for GCC and Clang")
  endif()
  target_compile_options(kestrove_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(kestrove_common INTERFACE -fsanitize=address,undefined)
endif()

# Keystream kernels must vectorise; GCC at -O2 leaves the byte add loop scalar.
set(KESTROVE_VECTOR_FLAGS "")
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(KESTROVE_VECTOR_FLAGS -O3)
endif()
