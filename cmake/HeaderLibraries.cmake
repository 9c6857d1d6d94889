# The header-only libraries we take from Debian (toml++ for bench files,
# nlohmann-json for reports). Their headers sit in /usr/include, which a
# cross build must not search as a whole: it would find this machine's C
# library before the target's. So each library's own folder is staged alone
# under the build tree and given to the targets that use it, as a system
# folder so that the libraries' own warnings stay theirs.
function(morvane_header_library target header)
  find_file(MORVANE_${target}_HEADER ${header} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT MORVANE_${target}_HEADER)
    message(FATAL_ERROR "${header} not found in /usr/include: scripts/install-deps.sh installs it")
  endif()
  string(REGEX MATCH "^[^/]+" folder ${header})
  set(staged ${CMAKE_BINARY_DIR}/header-libraries/${target})
  file(MAKE_DIRECTORY ${staged})
  file(CREATE_LINK /usr/include/${folder} ${staged}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${staged})
endfunction()

morvane_header_library(morvane_toml toml++/toml.h)
morvane_header_library(morvane_json nlohmann/json.hpp)
