# Fails when a file of the program's own code includes a POSIX, Linux, Qt or
# other system header for something that the platform layer provides: the
# program reaches its operating system only through platform/.
set(program_dirs app link linklib ctp controllers ui)
set(forbidden
    "unistd\\.h" "pthread\\.h" "dlfcn\\.h" "fcntl\\.h" "termios\\.h" "poll\\.h" "dirent\\.h"
    "iconv\\.h" "signal\\.h" "sys/[a-z_]+\\.h" "linux/[a-z_]+\\.h" "Q[A-Za-z]+" "gps\\.h"
    "jpeglib\\.h" "dbus/[a-z_-]+\\.h" "bluetooth/[a-z_]+\\.h" "windows\\.h")
list(JOIN forbidden "|" pattern)
set(offences "")
foreach(dir ${program_dirs})
    file(GLOB_RECURSE sources "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.cpp")
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<(${pattern})>")
        foreach(line ${lines})
            file(RELATIVE_PATH name "${ROOT}" "${source}")
            string(APPEND offences "  ${name}: ${line}\n")
        endforeach()
    endforeach()
endforeach()
if(offences)
    message(FATAL_ERROR "program code bypasses the platform layer:\n${offences}")
endif()
message(STATUS "program code reaches the system only through platform/")
