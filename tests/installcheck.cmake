# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch root and checks what it installed (checkinstalled.cmake).
# Run with -DBUILD_DIR=<build tree> -DROOT=<scratch dir> -DVERSION=<project version>.

file(REMOVE_RECURSE "${ROOT}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${ROOT} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
    RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(USR "${ROOT}/usr")
include(${CMAKE_CURRENT_LIST_DIR}/checkinstalled.cmake)
file(REMOVE_RECURSE "${ROOT}")
