# Compiler settings every target of ours shares.
set(MORVANE_WARNINGS
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  -Wimplicit-fallthrough -Wformat=2 -Wundef
  -Wno-missing-field-initializers) # designated initialisers leave the rest at their defaults on purpose
# GCC 12 inlines std::string's appends at -O3 and then warns of overlapping
# copies that cannot happen (its bug 105329); the Windows build, made at -O3,
# meets it in plain concatenations.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND MORVANE_WARNINGS -Wno-restrict)
endif()

set(MORVANE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

if(MORVANE_SANITIZE)
  add_compile_options(${MORVANE_SANITIZER_FLAGS})
  add_link_options(${MORVANE_SANITIZER_FLAGS})
endif()

function(morvane_target_defaults target)
  target_compile_options(${target} PRIVATE ${MORVANE_WARNINGS})
  if(MORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# morvane_library(<name> <sources...>): one static library per subsystem,
# included as "<subsystem>/<Header>.h" from the src root.
function(morvane_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  morvane_target_defaults(${name})
endfunction()
