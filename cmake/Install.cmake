# Installing Tallimo for one user on a freedesktop (Linux, BSD) desktop.
#
#   <prefix>/lib/tallimo/tallimo       the program; Cnt.arm and Chimes.wav live beside it
#   <prefix>/lib/tallimo/tallimo-window.so  its window, loaded when it opens one
#   <prefix>/lib/tallimo/Chimes.wav    our chime, unless the user already has one there
#   <prefix>/bin/tallimo               launcher: a link to ../lib/tallimo/tallimo
#   <prefix>/share/applications/tallimo.desktop
#   <prefix>/share/icons/hicolor/<size>/apps/tallimo.{png,svg}
#   <prefix>/share/metainfo/<app id>.metainfo.xml
#
# The program keeps its day record beside its executable, so the prefix must
# be writable by the user who runs it: hence ~/.local rather than /usr/local.
# Every rule belongs to the component "tallimo", so a test can install into a
# scratch prefix with its own manifest and leave the user's one alone.

if(NOT UNIX OR APPLE)
  return()
endif()

# A prefix the user never chose becomes ~/.local, decided once per build
# folder so that a prefix given later with -D always stands. A folder
# configured before this rule existed still has CMake's own default, which is
# recognised by its help text.
if(NOT DEFINED CACHE{TALLIMO_PREFIX_CHOSEN})
  get_property(_tallimo_prefix_help CACHE CMAKE_INSTALL_PREFIX PROPERTY HELPSTRING)
  if(DEFINED ENV{HOME} AND NOT "$ENV{HOME}" STREQUAL "" AND
     (CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR
      (DEFINED CACHE{CMAKE_CACHE_MAJOR_VERSION} AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local" AND
       _tallimo_prefix_help STREQUAL "Install path prefix, prepended onto install directories.")))
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH
        "Where to install Tallimo (per user by default, so that its folder is writable)" FORCE)
  endif()
  set(TALLIMO_PREFIX_CHOSEN ON CACHE INTERNAL "The install prefix default has been settled")
endif()

set(TALLIMO_APP_ID "io.github.tallimo.Tallimo" CACHE STRING "AppStream component id")
set(TALLIMO_PROGRAM_DIR "lib/tallimo")
set(TALLIMO_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_data "${CMAKE_CURRENT_BINARY_DIR}/desktop")
file(MAKE_DIRECTORY "${_data}")

# ---- generated at build time ------------------------------------------------------

find_package(Python3 COMPONENTS Interpreter)
find_program(RSVG_CONVERT rsvg-convert)
set(_generated)

if(Python3_Interpreter_FOUND)
  add_custom_command(
    OUTPUT "${_data}/Chimes.wav"
    COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/app/make-chime.py" "${_data}/Chimes.wav"
    DEPENDS "${PROJECT_SOURCE_DIR}/app/make-chime.py"
    COMMENT "Synthesising the chime"
    VERBATIM)
  list(APPEND _generated "${_data}/Chimes.wav")
else()
  message(WARNING "No Python 3: the chime is not built and not installed.")
endif()

set(_icon_svg "${PROJECT_SOURCE_DIR}/app/icons/tallimo.svg")
if(RSVG_CONVERT)
  foreach(size IN LISTS TALLIMO_ICON_SIZES)
    set(_png "${_data}/icons/${size}x${size}/tallimo.png")
    add_custom_command(
      OUTPUT "${_png}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${_data}/icons/${size}x${size}"
      COMMAND "${RSVG_CONVERT}" -w ${size} -h ${size} -o "${_png}" "${_icon_svg}"
      DEPENDS "${_icon_svg}"
      VERBATIM)
    list(APPEND _generated "${_png}")
  endforeach()
else()
  message(WARNING "No rsvg-convert (librsvg2-bin): only the scalable icon is installed.")
endif()

add_custom_target(tallimo_desktop_data ALL DEPENDS ${_generated})

configure_file("${PROJECT_SOURCE_DIR}/app/tallimo.metainfo.xml.in"
               "${_data}/${TALLIMO_APP_ID}.metainfo.xml" @ONLY)

# ---- install rules ----------------------------------------------------------------

# The installed program, which looks for its module in the install's folder
# where the one in the build folder looks in the build folder. That folder is
# the configured prefix's: an install elsewhere (--prefix, DESTDIR) is found
# beside the program, and its lone copies look in the configured prefix.
tallimo_program(tallimo_installed "${CMAKE_INSTALL_PREFIX}/${TALLIMO_PROGRAM_DIR}")
set_target_properties(tallimo_installed PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                   "${CMAKE_BINARY_DIR}/for-install")

install(TARGETS tallimo_installed tallimo_window
        RUNTIME DESTINATION "${TALLIMO_PROGRAM_DIR}" COMPONENT tallimo
        LIBRARY DESTINATION "${TALLIMO_PROGRAM_DIR}" COMPONENT tallimo)

# The launcher is a relative link, made here and installed as a link (install()
# cannot rename it, hence a folder of its own).
file(MAKE_DIRECTORY "${_data}/bin")
file(CREATE_LINK "../${TALLIMO_PROGRAM_DIR}/tallimo" "${_data}/bin/tallimo" SYMBOLIC)
install(FILES "${_data}/bin/tallimo" DESTINATION bin COMPONENT tallimo)

# The desktop entry names the launcher by its full path (~/.local/bin is not on
# every PATH), so it is written when the prefix is known: at install time.
install(
  CODE "
    set(TALLIMO_LAUNCHER \"\${CMAKE_INSTALL_PREFIX}/bin/tallimo\")
    configure_file(\"${PROJECT_SOURCE_DIR}/app/tallimo.desktop.in\"
                   \"${_data}/install/tallimo.desktop\" @ONLY)"
  COMPONENT tallimo)
install(FILES "${_data}/install/tallimo.desktop" DESTINATION share/applications
        COMPONENT tallimo)

install(FILES "${_data}/${TALLIMO_APP_ID}.metainfo.xml" DESTINATION share/metainfo
        COMPONENT tallimo)

install(FILES "${_icon_svg}" DESTINATION share/icons/hicolor/scalable/apps COMPONENT tallimo)
if(RSVG_CONVERT)
  foreach(size IN LISTS TALLIMO_ICON_SIZES)
    install(FILES "${_data}/icons/${size}x${size}/tallimo.png"
            DESTINATION "share/icons/hicolor/${size}x${size}/apps" COMPONENT tallimo)
  endforeach()
endif()

# The chime goes in only where the user has none of their own: a Chimes.wav
# that differs from ours was put there on purpose and stays as it is.
# Cnt.arm is never installed, so a reinstall leaves the day's record alone.
if(Python3_Interpreter_FOUND)
  install(
    CODE "
      set(_ours \"${_data}/Chimes.wav\")
      set(_dir \"\${CMAKE_INSTALL_PREFIX}/${TALLIMO_PROGRAM_DIR}\")
      set(_there \"\$ENV{DESTDIR}\${_dir}/Chimes.wav\")
      set(_keep FALSE)
      if(EXISTS \"\${_there}\")
        file(SHA256 \"\${_there}\" _a)
        file(SHA256 \"\${_ours}\" _b)
        if(NOT _a STREQUAL _b)
          set(_keep TRUE)
        endif()
      endif()
      if(_keep)
        message(STATUS \"Keeping: \${_there} (the user's own chime)\")
      else()
        file(INSTALL DESTINATION \"\${_dir}\" TYPE FILE
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
             FILES \"\${_ours}\")
      endif()"
    COMPONENT tallimo)
endif()

# A theme cache that already exists would hide the new icons until refreshed.
install(
  CODE "
    set(_cache \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/icon-theme.cache\")
    find_program(_gtk_cache gtk-update-icon-cache)
    if(EXISTS \"\${_cache}\" AND _gtk_cache)
      execute_process(COMMAND \"\${_gtk_cache}\" -q -t -f
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/icons/hicolor\")
    endif()"
  COMPONENT tallimo)

# Uninstalling removes what the last install wrote, except a chime that is no
# longer ours; Cnt.arm was never installed and stays.
add_custom_target(
  uninstall
  COMMAND "${CMAKE_COMMAND}" "-DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt"
          "-DCHIME=${_data}/Chimes.wav" -P "${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake"
  COMMENT "Uninstalling Tallimo"
  VERBATIM)
