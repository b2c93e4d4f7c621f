# Installation: the application with its desktop integration, the OSC library (ROZUri) as a
# CMake package and a pkg-config module, and the Debian package that `make package` builds.
# Two install components: `application` (what the .deb holds) and `rozuri` (the library).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MS_APP_ID "com.quorvanesoftware.mantleshade")
set(ms_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(ms_generated ${CMAKE_BINARY_DIR}/packaging)

# --- the application --------------------------------------------------------------------------
if(TARGET mantleshade)
  target_compile_definitions(mantleshade PRIVATE MANTLESHADE_APP_ID="${MS_APP_ID}")
  install(TARGETS mantleshade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT application)

  configure_file(${ms_packaging}/mantleshade.desktop.in ${ms_generated}/${MS_APP_ID}.desktop @ONLY)
  configure_file(${ms_packaging}/mantleshade.metainfo.xml.in
                 ${ms_generated}/${MS_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${ms_generated}/${MS_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT application)
  install(FILES ${ms_generated}/${MS_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT application)
  install(FILES ${ms_packaging}/mantleshade.svg RENAME ${MS_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT application)

  # Menus and docks that do not read SVG get PNGs at the usual theme sizes, rendered from the SVG.
  find_program(MS_RSVG_CONVERT rsvg-convert)
  if(MS_RSVG_CONVERT)
    set(ms_icon_pngs "")
    foreach(px 16 32 48 64 128 256)
      set(png ${ms_generated}/icons/${px}/${MS_APP_ID}.png)
      add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ms_generated}/icons/${px}
        COMMAND ${MS_RSVG_CONVERT} -w ${px} -h ${px} -o ${png} ${ms_packaging}/mantleshade.svg
        DEPENDS ${ms_packaging}/mantleshade.svg
        VERBATIM)
      list(APPEND ms_icon_pngs ${png})
      install(FILES ${png}
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${px}x${px}/apps
              COMPONENT application)
    endforeach()
    add_custom_target(mantleshade_icon ALL DEPENDS ${ms_icon_pngs})
  else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: the PNG icons are not installed")
  endif()
endif()

# --- the OSC library --------------------------------------------------------------------------
# Exported as ROZUri::<name>; the platform layers it needs come along as its private parts.
# Headers keep the paths the code uses (osc/core/OSCMessage.h) under include/rozuri/.
set(ms_rozuri_parts
  rozuri_masks:masks rozuri_tcp:tcp rozuri_udp:udp rozuri_core:core
  tls:tls foundation:foundation dispatch:dispatch)  # link order, for pkg-config
set(ms_rozuri_targets "")
set(ms_rozuri_archives "")
foreach(part IN LISTS ms_rozuri_parts)
  string(REPLACE ":" ";" part ${part})
  list(GET part 0 target)
  list(GET part 1 name)
  if(NOT TARGET ${target})
    continue()
  endif()
  list(APPEND ms_rozuri_targets ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  target_compile_features(${target} INTERFACE cxx_std_20)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    # Installed beside other libraries: no bare libdispatch.a or libtls.a.
    set_target_properties(${target} PROPERTIES OUTPUT_NAME rozuri_${name})
    string(APPEND ms_rozuri_archives " -lrozuri_${name}")
  endif()
  get_target_property(dir ${target} SOURCE_DIR)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
  install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rozuri/${rel}
          COMPONENT rozuri FILES_MATCHING PATTERN "*.h")
endforeach()

if(TARGET rozuri_core)
  set(ms_rozuri_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/ROZUri)
  install(TARGETS ${ms_rozuri_targets} EXPORT ROZUriTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT rozuri
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rozuri)
  install(EXPORT ROZUriTargets NAMESPACE ROZUri:: DESTINATION ${ms_rozuri_cmakedir}
          COMPONENT rozuri)
  configure_package_config_file(${ms_packaging}/ROZUriConfig.cmake.in
                                ${ms_generated}/ROZUriConfig.cmake
                                INSTALL_DESTINATION ${ms_rozuri_cmakedir})
  write_basic_package_version_file(${ms_generated}/ROZUriConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${ms_generated}/ROZUriConfig.cmake ${ms_generated}/ROZUriConfigVersion.cmake
          DESTINATION ${ms_rozuri_cmakedir} COMPONENT rozuri)

  # Relocatable: the prefix is found from the .pc file's own folder.
  file(RELATIVE_PATH MS_PC_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" MS_PC_PREFIX "${MS_PC_PREFIX}")
  string(STRIP "${ms_rozuri_archives}" MS_PC_LIBS)
  configure_file(${ms_packaging}/rozuri.pc.in ${ms_generated}/rozuri.pc @ONLY)
  install(FILES ${ms_generated}/rozuri.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT rozuri)
endif()

# --- the Debian package (`make package`) ------------------------------------------------------
set(MS_PACKAGE_MAINTAINER "Mantleshade maintainers <mantleshade@quorvanesoftware.com>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mantleshade)
set(CPACK_PACKAGE_VENDOR "Quorvane Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Cover every display with black, a still image or a looping video")
set(CPACK_PACKAGE_DESCRIPTION
    "Mantleshade covers every connected display with plain black, a still image or a muted looping video. It runs as a tray item and is driven from its menu or remotely by OSC messages over UDP.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The application only; the library is for `cmake --install`.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};application;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MS_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no shared-library dependency names them: Qt's SVG icon engine (the
# shipped symbols) and the video covers' GStreamer decoders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6svg6, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav")
include(CPack)
