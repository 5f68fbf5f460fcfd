# Removes what the last `cmake --install` of this build wrote, as listed in its
# manifest. Cnt.arm is never installed, so the day's record stays; a Chimes.wav
# that no longer matches ours was replaced by the user and stays too. The
# program's folder goes only when nothing is left in it.
#
#   cmake -DMANIFEST=<build>/install_manifest.txt [-DCHIME=<our Chimes.wav>] -P Uninstall.cmake

if(NOT DEFINED MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: no install manifest at \"${MANIFEST}\".")
endif()

file(STRINGS "${MANIFEST}" _files)
set(_dirs)
foreach(_file IN LISTS _files)
  if(NOT IS_SYMLINK "${_file}" AND NOT EXISTS "${_file}")
    continue()
  endif()
  get_filename_component(_name "${_file}" NAME)
  if(_name STREQUAL "Chimes.wav" AND DEFINED CHIME AND EXISTS "${CHIME}")
    file(SHA256 "${_file}" _there)
    file(SHA256 "${CHIME}" _ours)
    if(NOT _there STREQUAL _ours)
      message(STATUS "Keeping: ${_file} (changed since it was installed)")
      continue()
    endif()
  endif()
  message(STATUS "Removing: ${_file}")
  file(REMOVE "${_file}")
  get_filename_component(_dir "${_file}" DIRECTORY)
  list(APPEND _dirs "${_dir}")
endforeach()

# Only the program's own folder is ours alone; shared folders such as
# share/applications stay even when empty.
list(REMOVE_DUPLICATES _dirs)
foreach(_dir IN LISTS _dirs)
  get_filename_component(_name "${_dir}" NAME)
  if(_name STREQUAL "tallimo" AND IS_DIRECTORY "${_dir}")
    file(GLOB _left "${_dir}/*")
    if(_left)
      message(STATUS "Keeping: ${_dir} (holds ${_left})")
    else()
      file(REMOVE_RECURSE "${_dir}")
      message(STATUS "Removing: ${_dir}")
    endif()
  endif()
endforeach()
