# Installation and the two Debian packages, built by scripts/package:
#   camora-controller  the program, its command-line remote camora-remote, the
#                      link library and the platform libraries in a private
#                      folder, with the desktop entry, icons, AppStream metainfo
#                      and manual pages;
#   camora-camsim      the camcorder simulator and its manual page.
# The program loads libCamoraConnect.so from the folder of its executable as
# /proc/self/exe names it, so everything lives in a private folder below
# /usr/lib and /usr/bin holds a symbolic link; every binary finds its project libraries by a
# run path relative to itself.
#
# The version is the project() VERSION; the release date and the changes come
# from packaging/changelog, whose newest entry must carry that version.

set(CAMORA_APP_ID camora-controller)  # also QGuiApplication::setDesktopFileName
# The multiarch folder (/usr/lib/x86_64-linux-gnu/camora-controller) keeps the
# private libraries out of ldconfig's reach: CPack would call ldconfig from the
# maintainer scripts for a folder right below /usr/lib.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(CAMORA_PRIVATE_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/camora-controller)
else()
    set(CAMORA_PRIVATE_DIR lib/camora-controller)
endif()
set(CAMORA_MAINTAINER "CamoraController developers <camora-controller@users.noreply.example>")
set(CAMORA_HOMEPAGE "https://camora-controller.users.noreply.example"
    CACHE STRING "Home page named by the AppStream metainfo")
set(CAMORA_SCREENSHOT_URL "${CAMORA_HOMEPAGE}/screenshots"
    CACHE STRING "Where the pictures of docs/screenshots/ are published")
set(CAMORA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(CAMORA_STAGE_DIR ${PROJECT_BINARY_DIR}/packaging)

# The newest changelog entry: "camora-controller (VERSION) DIST; urgency=U"
# first, its " -- NAME <MAIL>  DATE" trailer after.
file(STRINGS ${CAMORA_PACKAGING_DIR}/changelog changelog_heads REGEX "^camora-controller \\(")
file(STRINGS ${CAMORA_PACKAGING_DIR}/changelog changelog_trailers REGEX "^ -- ")
list(GET changelog_heads 0 changelog_head)
list(GET changelog_trailers 0 changelog_trailer)
string(REGEX REPLACE "^camora-controller \\(([^)]*)\\).*" "\\1" changelog_version "${changelog_head}")
if(NOT changelog_version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/changelog: newest entry is ${changelog_version}, "
                        "the project is ${PROJECT_VERSION}: add an entry")
endif()
# " -- NAME <MAIL>  Tue, 08 Dec 2026 12:00:00 +0000" -> 2026-12-08
string(REGEX MATCH "([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" date_match "${changelog_trailer}")
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
if(NOT date_match OR month LESS 0)
    message(FATAL_ERROR "packaging/changelog: no date in '${changelog_trailer}'")
endif()
math(EXPR month "${month} + 1")
if(month LESS 10)
    set(month 0${month})
endif()
string(LENGTH "${day}" day_length)
if(day_length EQUAL 1)
    set(day 0${day})
endif()
set(CAMORA_RELEASE_DATE ${year}-${month}-${day})

# The version screen shows the version from the string table; it must agree.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/Strings.cpp version_string REGEX "\\{135, u\"")
if(version_string AND NOT version_string MATCHES "u\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "resources/Strings.cpp: string 135 is not the version ${PROJECT_VERSION}")
endif()

# Generated files: the metainfo and manual pages with version and date, and the
# compressed forms that Debian wants (gzip -9n: no name, no time stamp).
string(REPLACE "-" "\\-" CAMORA_PRIVATE_DIR_ROFF "${CAMORA_PRIVATE_DIR}")
configure_file(${CAMORA_PACKAGING_DIR}/camora-controller.metainfo.xml.in
               ${CAMORA_STAGE_DIR}/${CAMORA_APP_ID}.metainfo.xml @ONLY)
set(packaging_outputs)
foreach(page camora-controller.1 camora-remote.1 camora-camsim.1)
    configure_file(${CAMORA_PACKAGING_DIR}/${page}.in ${CAMORA_STAGE_DIR}/${page} @ONLY)
    list(APPEND packaging_outputs ${CAMORA_STAGE_DIR}/${page}.gz)
    add_custom_command(
        OUTPUT ${CAMORA_STAGE_DIR}/${page}.gz
        COMMAND sh -c "gzip -9nc \"$0\" > \"$0.gz\"" ${page}
        WORKING_DIRECTORY ${CAMORA_STAGE_DIR}
        DEPENDS ${CAMORA_STAGE_DIR}/${page}
        VERBATIM)
endforeach()
add_custom_command(
    OUTPUT ${CAMORA_STAGE_DIR}/changelog.gz
    COMMAND sh -c "gzip -9nc \"$0\" > changelog.gz" ${CAMORA_PACKAGING_DIR}/changelog
    WORKING_DIRECTORY ${CAMORA_STAGE_DIR}
    DEPENDS ${CAMORA_PACKAGING_DIR}/changelog
    VERBATIM)
list(APPEND packaging_outputs ${CAMORA_STAGE_DIR}/changelog.gz)
add_custom_target(camora_packaging_files ALL DEPENDS ${packaging_outputs})

# The launchers: /usr/bin/NAME -> ../lib/.../camora-controller/NAME, for the
# program and for camora-remote, which loads the link library the same way.
file(MAKE_DIRECTORY ${CAMORA_STAGE_DIR}/bin)
foreach(program camora-controller camora-remote)
    file(CREATE_LINK ../${CAMORA_PRIVATE_DIR}/${program} ${CAMORA_STAGE_DIR}/bin/${program} SYMBOLIC)
endforeach()

# Project libraries and the link library sit beside the program.
set_target_properties(camora_platform camora_btsdk CamoraConnect PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS camora_platform camora_btsdk CamoraConnect
        LIBRARY DESTINATION ${CAMORA_PRIVATE_DIR} COMPONENT controller NAMELINK_COMPONENT controller)

if(TARGET camora-controller)
    set_target_properties(camora-controller PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS camora-controller RUNTIME DESTINATION ${CAMORA_PRIVATE_DIR} COMPONENT controller)
    install(FILES ${CAMORA_STAGE_DIR}/bin/camora-controller DESTINATION bin COMPONENT controller)
    install(FILES ${CAMORA_STAGE_DIR}/camora-controller.1.gz DESTINATION share/man/man1
            COMPONENT controller)
else()
    message(STATUS "No camora-controller target: its package will hold no program")
endif()
if(TARGET camora-remote)
    set_target_properties(camora-remote PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS camora-remote RUNTIME DESTINATION ${CAMORA_PRIVATE_DIR} COMPONENT controller)
    install(FILES ${CAMORA_STAGE_DIR}/bin/camora-remote DESTINATION bin COMPONENT controller)
    install(FILES ${CAMORA_STAGE_DIR}/camora-remote.1.gz DESTINATION share/man/man1
            COMPONENT controller)
endif()
install(FILES ${CAMORA_PACKAGING_DIR}/${CAMORA_APP_ID}.desktop DESTINATION share/applications
        COMPONENT controller)
install(FILES ${CAMORA_STAGE_DIR}/${CAMORA_APP_ID}.metainfo.xml DESTINATION share/metainfo
        COMPONENT controller)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor DESTINATION share/icons
        COMPONENT controller)

# The simulator runs from /usr/bin and shares the program's platform library.
if(TARGET camora-camsim)
    set_target_properties(camora-camsim PROPERTIES INSTALL_RPATH "$ORIGIN/../${CAMORA_PRIVATE_DIR}")
    install(TARGETS camora-camsim RUNTIME DESTINATION bin COMPONENT camsim)
    install(FILES ${CAMORA_STAGE_DIR}/camora-camsim.1.gz DESTINATION share/man/man1
            COMPONENT camsim)
endif()

foreach(component controller camsim)
    set(package camora-${component})
    install(FILES ${CAMORA_PACKAGING_DIR}/copyright ${CAMORA_STAGE_DIR}/changelog.gz
            DESTINATION share/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME camora-controller)
set(CPACK_PACKAGE_VENDOR "CamoraController developers")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CAMORA_HOMEPAGE}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CAMORA_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_FILE_NAME camora-controller-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL controller camsim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE camora-controller)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CAMORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps looks for the project libraries, which no installed package
# holds, in the program's staging folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/${CMAKE_SYSTEM_NAME}/DEB/${CPACK_PACKAGE_FILE_NAME}/controller/usr/${CAMORA_PRIVATE_DIR})

set(CPACK_DEBIAN_CONTROLLER_PACKAGE_NAME camora-controller)
# The window layer asks for DejaVu Sans, the look the screens were laid out in.
set(CPACK_DEBIAN_CONTROLLER_PACKAGE_RECOMMENDS "bluez, gpsd, qt6-wayland, fonts-dejavu-core")
set(CPACK_COMPONENT_CONTROLLER_DESCRIPTION
    "remote control for a Bluetooth camcorder
CamoraController turns a touch-screen handset, a laptop or a Raspberry Pi
into a remote control for a Bluetooth camcorder. Over the Bluetooth
serial-port link it presses the camera's keys, follows its mode, recording
state and battery, shows a live view, saves the still shown in playback as
a JPEG file and feeds the camera with the GPS position from gpsd.")

set(CPACK_DEBIAN_CAMSIM_PACKAGE_NAME camora-camsim)
set(CPACK_DEBIAN_CAMSIM_PACKAGE_DEPENDS "camora-controller (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_CAMSIM_DESCRIPTION
    "camcorder simulator for CamoraController
camora-camsim stands in for a Bluetooth camcorder: it serves the camera's
side of the link on a pseudo-terminal, with live-view pictures, still
capture and GPS, a paced mode poll, link shaping like Bluetooth serial and
faults on demand, so that CamoraController can be tried and tested without
a camera.")

include(CPack)
