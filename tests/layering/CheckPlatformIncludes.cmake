# Fails when the layers are crossed:
# - a file of the program's own code includes a POSIX, Linux, Qt or other system
#   header for something that the platform layer provides (the program reaches
#   its operating system only through platform/);
# - ctp/ or controllers/ include anything of ui/ but the header of resource
#   numbers (the protocol and the controllers know nothing of the screens);
# - platform/ includes any of the program's folders (it serves them, not they it);
# - Qt appears in platform/ outside platform/ui, or in a platform/ui header that
#   the program includes (only the window layer's private QtSupport.h may).
# ROOT is the source tree. The folders searched are fixed: the program's
# folders below, and platform/; every offence is listed before the check fails.
set(program_dirs app link linklib ctp controllers ui)
set(forbidden
    "unistd\\.h" "pthread\\.h" "dlfcn\\.h" "fcntl\\.h" "termios\\.h" "poll\\.h" "dirent\\.h"
    "iconv\\.h" "signal\\.h" "sys/[a-z_]+\\.h" "linux/[a-z_]+\\.h" "Q[A-Za-z]+" "gps\\.h"
    "jpeglib\\.h" "dbus/[a-z_-]+\\.h" "bluetooth/[a-z_]+\\.h" "windows\\.h")
list(JOIN forbidden "|" pattern)
set(include_re "^[ \t]*#[ \t]*include[ \t]*")

set(offences "")
function(report source line why)
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    set(offences "${offences}  ${name}: ${line} (${why})\n" PARENT_SCOPE)
endfunction()

function(sources_of dir out)
    file(GLOB_RECURSE found "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.cpp")
    set(${out} ${found} PARENT_SCOPE)
endfunction()

foreach(dir ${program_dirs})
    sources_of(${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}<(${pattern})>")
        foreach(line ${lines})
            report("${source}" "${line}" "system header that platform/ wraps")
        endforeach()
    endforeach()
endforeach()

foreach(dir ctp controllers)
    sources_of(${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}[\"<]ui/")
        foreach(line ${lines})
            if(NOT line MATCHES "[\"<]ui/resources/ResourceIds\\.h[\">]")
                report("${source}" "${line}" "${dir}/ knows nothing of the screens")
            endif()
        endforeach()
    endforeach()
endforeach()

list(JOIN program_dirs "|" program_re)
sources_of(platform sources)
foreach(source ${sources})
    file(STRINGS "${source}" lines REGEX "${include_re}[\"<](${program_re})/")
    foreach(line ${lines})
        report("${source}" "${line}" "platform/ includes no program folder")
    endforeach()
endforeach()

set(qt_re "${include_re}<Q[A-Za-z]+(/[A-Za-z]+)?>")
sources_of(platform sources)
foreach(source ${sources})
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    if(name MATCHES "^platform/ui/" AND NOT name MATCHES "^platform/ui/[A-Za-z]+\\.h$")
        continue()
    endif()
    if(name STREQUAL "platform/ui/QtSupport.h")
        continue()
    endif()
    file(STRINGS "${source}" lines REGEX "${qt_re}")
    foreach(line ${lines})
        report("${source}" "${line}" "Qt lives in platform/ui's sources alone")
    endforeach()
endforeach()

if(offences)
    message(FATAL_ERROR "the layers are crossed:\n${offences}")
endif()
message(STATUS "program code reaches the system only through platform/, and the layers hold")
