# Installs the build into a scratch root and checks what a desktop needs: the program and its ASCII
# link, the virtual device, a desktop entry the desktop accepts, and the icons the entry names.
# Run with -DBUILD_DIR=<build tree> -DROOT=<scratch dir>.

file(REMOVE_RECURSE "${ROOT}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(usr "${ROOT}/usr")
foreach(f bin/串口调试程序 bin/zelcom-vport share/applications/zelcom.desktop
        share/icons/hicolor/48x48/apps/zelcom.png share/icons/hicolor/scalable/apps/zelcom.svg)
    if(NOT EXISTS "${usr}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()

if(NOT IS_SYMLINK "${usr}/bin/zelcom")
    message(FATAL_ERROR "bin/zelcom is not a link")
endif()
file(READ_SYMLINK "${usr}/bin/zelcom" target)
if(NOT target STREQUAL "串口调试程序")
    message(FATAL_ERROR "bin/zelcom points to '${target}'")
endif()

file(STRINGS "${usr}/share/applications/zelcom.desktop" exec REGEX "^Exec=")
file(STRINGS "${usr}/share/applications/zelcom.desktop" icon REGEX "^Icon=")
if(NOT exec STREQUAL "Exec=zelcom" OR NOT icon STREQUAL "Icon=zelcom")
    message(FATAL_ERROR "the desktop entry starts '${exec}' with '${icon}'")
endif()

find_program(VALIDATE desktop-file-validate REQUIRED)
execute_process(COMMAND ${VALIDATE} "${usr}/share/applications/zelcom.desktop"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()

# The PNG must be the size its folder promises.
file(READ "${usr}/share/icons/hicolor/48x48/apps/zelcom.png" header LIMIT 24 HEX)
string(SUBSTRING "${header}" 32 16 size)
if(NOT size STREQUAL "0000003000000030")
    message(FATAL_ERROR "the 48x48 icon is not 48 x 48 (IHDR ${size})")
endif()
file(REMOVE_RECURSE "${ROOT}")
