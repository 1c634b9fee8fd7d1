# SPDX-License-Identifier: GPL-3.0-or-later
# Checks an installed tree as a desktop, a software centre and man see it: the program and its Chinese
# link, the virtual device, the desktop entry, the AppStream metadata, the icons the entry names, the
# manual pages and the package's documents. Used by installcheck.cmake on `cmake --install` and by
# tools/check-package.sh on the unpacked .deb.
# Run with -DUSR=<the installed usr folder> -DVERSION=<the package's version>, or include() it with both set.

set(id org.example.zelcom)
foreach(f bin/串口调试程序 bin/zelcom-vport share/applications/${id}.desktop share/metainfo/${id}.metainfo.xml
        share/icons/hicolor/48x48/apps/zelcom.png share/icons/hicolor/scalable/apps/zelcom.svg
        share/man/man1/zelcom.1.gz share/man/man1/zelcom-vport.1.gz share/man/man1/串口调试程序.1.gz
        share/man/zh_CN/man1/zelcom.1.gz share/man/zh_CN/man1/串口调试程序.1.gz
        share/doc/zelcom/copyright share/doc/zelcom/changelog.gz share/lintian/overrides/zelcom)
    if(NOT EXISTS "${USR}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()

# The program's Chinese name is a link to the ASCII-named file, which Debian's dependency scan can read.
if(IS_SYMLINK "${USR}/bin/zelcom" OR NOT IS_SYMLINK "${USR}/bin/串口调试程序")
    message(FATAL_ERROR "bin/zelcom must be the program and bin/串口调试程序 a link to it")
endif()
file(READ_SYMLINK "${USR}/bin/串口调试程序" target)
if(NOT target STREQUAL "zelcom")
    message(FATAL_ERROR "bin/串口调试程序 points to '${target}'")
endif()

set(desktop "${USR}/share/applications/${id}.desktop")
file(STRINGS "${desktop}" exec REGEX "^Exec=")
file(STRINGS "${desktop}" icon REGEX "^Icon=")
if(NOT exec STREQUAL "Exec=zelcom" OR NOT icon STREQUAL "Icon=zelcom")
    message(FATAL_ERROR "the desktop entry starts '${exec}' with '${icon}'")
endif()

# Each tool must say nothing at all: a warning is a failure too.
function(quiet_check what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0 OR NOT err STREQUAL "")
        message(FATAL_ERROR "${what}: ${result}\n${out}${err}")
    endif()
    set(check_output "${out}" PARENT_SCOPE)
endfunction()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
quiet_check(desktop-file-validate ${DESKTOP_FILE_VALIDATE} "${desktop}")
if(NOT check_output STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${check_output}")
endif()

# --no-net: the screenshot's address is not fetched.
find_program(APPSTREAMCLI appstreamcli REQUIRED)
quiet_check("appstreamcli validate" ${APPSTREAMCLI} validate --strict --no-net
    "${USR}/share/metainfo/${id}.metainfo.xml")

# man and groff in a UTF-8 locale, as a user's terminal has it: the pages carry Chinese. Run from the
# man folder, where the Chinese name's page finds the page it points to.
find_program(MAN man REQUIRED)
file(GLOB pages "${USR}/share/man/man1/*.1.gz" "${USR}/share/man/zh_CN/man1/*.1.gz")
foreach(page ${pages})
    # A page's .so link is read from the root of its own hierarchy.
    get_filename_component(hierarchy "${page}" DIRECTORY)
    get_filename_component(hierarchy "${hierarchy}" DIRECTORY)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80 ${MAN} --warnings -l "${page}"
        WORKING_DIRECTORY "${hierarchy}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0 OR NOT err STREQUAL "")
        message(FATAL_ERROR "man --warnings -l ${page}: ${result}\n${err}")
    endif()
    if(NOT out MATCHES "\n(NAME|名称)\n")
        message(FATAL_ERROR "${page} shows no manual page")
    endif()
endforeach()

# The program's Chinese name finds the English page, and the Chinese page in a Chinese locale.
foreach(lang C zh_CN)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANPATH=${USR}/share/man ${MAN} -L ${lang} -w 串口调试程序
        RESULT_VARIABLE result OUTPUT_VARIABLE where ERROR_VARIABLE err)
    set(expected "/share/man/man1/zelcom\\.1\\.gz")
    if(lang STREQUAL "zh_CN")
        set(expected "/share/man/zh_CN/man1/zelcom\\.1\\.gz")
    endif()
    if(NOT result EQUAL 0 OR NOT where MATCHES "${expected}\n$")
        message(FATAL_ERROR "man -L ${lang} 串口调试程序 finds '${where}' ${err}")
    endif()
endforeach()

# The version is written in three places; the changelog's and the metadata's newest entries name it.
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -dc "${USR}/share/doc/zelcom/changelog.gz" OUTPUT_VARIABLE changelog)
if(NOT changelog MATCHES "^zelcom \\(${VERSION}\\) ")
    message(FATAL_ERROR "the changelog does not start with version ${VERSION}")
endif()
file(STRINGS "${USR}/share/metainfo/${id}.metainfo.xml" release REGEX "<release " LIMIT_COUNT 1)
if(NOT release MATCHES "version=\"${VERSION}\"")
    message(FATAL_ERROR "the metadata's newest release is not ${VERSION}: ${release}")
endif()

# The PNG must be the size its folder promises.
file(READ "${USR}/share/icons/hicolor/48x48/apps/zelcom.png" header LIMIT 24 HEX)
string(SUBSTRING "${header}" 32 16 size)
if(NOT size STREQUAL "0000003000000030")
    message(FATAL_ERROR "the 48x48 icon is not 48 x 48 (IHDR ${size})")
endif()
