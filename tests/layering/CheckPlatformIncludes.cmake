# Fails when the layers are crossed:
# - a file of the program's own code includes a POSIX, Linux, Qt or other system
#   header for something that the platform layer provides (the program reaches
#   its operating system only through platform/);
# - ctp/ or controllers/ include anything of ui/ (the protocol and the
#   controllers know nothing of the screens);
# - ctp/, controllers/ or ui/ include anything of app/ (the wiring sits on top:
#   what they share lives in core/ and resources/);
# - core/ or resources/ include anything of the program but platform/ (the
#   shared state and the resources sit right above the platform layer);
# - platform/ includes any of the program's folders, or the simulator, tools
#   and tests (it serves them, not they it);
# - platform/registry or platform/btsdk include anything of platform/bluez or
#   platform/bluetooth, or platform/bluez anything of platform/bluetooth (the
#   backend choice sits above all three and start-up installs it; the registry
#   and the SDK know nothing of the daemon's client);
# - Qt appears in platform/ outside platform/ui, or in a platform/ui header that
#   the program includes (only the window layer's private QtSupport.h and
#   DialogWindow.h may);
# - the program's folders or the simulator include anything of testkit/, the
#   tests, the benchmarks or the tools (those stand on the program, not it on them);
# - testkit/ includes the tests, the benchmarks or the tools (it serves them);
#   outside testkit/ui it includes only platform/ and itself, and no Qt (only
#   the window-side drivers in testkit/ui run screens).
# ROOT is the source tree. The folders searched are fixed: the program's
# folders below, and platform/; every offence is listed before the check fails.
set(program_dirs app core resources link linklib ctp controllers ui)
set(forbidden
    "unistd\\.h" "pthread\\.h" "dlfcn\\.h" "fcntl\\.h" "termios\\.h" "poll\\.h" "dirent\\.h"
    "iconv\\.h" "signal\\.h" "sys/[a-z_]+\\.h" "linux/[a-z_]+\\.h" "Q[A-Za-z]+" "gps\\.h"
    "jpeglib\\.h" "dbus/[a-z_-]+\\.h" "systemd/[a-z_-]+\\.h" "bluetooth/[a-z_]+\\.h" "windows\\.h")
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

# Folders that a folder may not include.
set(forbidden_ctp ui app)
set(forbidden_controllers ui app)
set(forbidden_ui app)
set(forbidden_platform ${program_dirs} sim testkit tools bench tests)
set(why_ctp "ctp/ knows nothing of the screens or the wiring")
set(why_controllers "controllers/ know nothing of the screens or the wiring")
set(why_ui "ui/ knows nothing of the wiring")
set(why_platform "platform/ includes no program folder")
foreach(dir ctp controllers ui platform)
    list(JOIN forbidden_${dir} "|" folders_re)
    sources_of(${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}[\"<](${folders_re})/")
        foreach(line ${lines})
            report("${source}" "${line}" "${why_${dir}}")
        endforeach()
    endforeach()
endforeach()

# The Bluetooth backend: the choice (platform/bluetooth) above the daemon's
# client (platform/bluez) above the registry and the SDK.
set(forbidden_platform_registry bluez bluetooth)
set(forbidden_platform_btsdk bluez bluetooth)
set(forbidden_platform_bluez bluetooth)
foreach(dir registry btsdk bluez)
    list(JOIN forbidden_platform_${dir} "|" folders_re)
    sources_of(platform/${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}[\"<]platform/(${folders_re})/")
        foreach(line ${lines})
            report("${source}" "${line}" "platform/${dir} knows nothing of the Bluetooth backend above it")
        endforeach()
    endforeach()
endforeach()

# The floor right above the platform layer: any folder of the tree but its own
# and platform/ is an offence, so that a folder added later is one too.
foreach(dir core resources)
    sources_of(${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}\"[A-Za-z_]+/")
        foreach(line ${lines})
            if(NOT line MATCHES "\"(platform|${dir})/")
                report("${source}" "${line}" "${dir}/ includes only platform/")
            endif()
        endforeach()
    endforeach()
endforeach()

set(qt_re "${include_re}<Q[A-Za-z]+(/[A-Za-z]+)?>")
sources_of(platform sources)
foreach(source ${sources})
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    if(name MATCHES "^platform/ui/" AND NOT name MATCHES "^platform/ui/[A-Za-z]+\\.h$")
        continue()
    endif()
    if(name STREQUAL "platform/ui/QtSupport.h" OR name STREQUAL "platform/ui/DialogWindow.h")
        continue()
    endif()
    file(STRINGS "${source}" lines REGEX "${qt_re}")
    foreach(line ${lines})
        report("${source}" "${line}" "Qt lives in platform/ui's sources alone")
    endforeach()
endforeach()

# Nothing of the program stands on what tests it.
foreach(dir ${program_dirs} sim)
    sources_of(${dir} sources)
    foreach(source ${sources})
        file(STRINGS "${source}" lines REGEX "${include_re}[\"<](testkit|tests|bench|tools)/")
        foreach(line ${lines})
            report("${source}" "${line}" "the program includes nothing of testkit/, tests, benchmarks or tools")
        endforeach()
    endforeach()
endforeach()

# testkit/ serves the tests, the benchmarks and the tools; apart from the
# window-side drivers in testkit/ui it stands on platform/ alone and has no Qt.
sources_of(testkit sources)
foreach(source ${sources})
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    file(STRINGS "${source}" lines REGEX "${include_re}[\"<](tests|bench|tools)/")
    foreach(line ${lines})
        report("${source}" "${line}" "testkit/ includes nothing of the tests, benchmarks or tools")
    endforeach()
    if(name MATCHES "^testkit/ui/")
        continue()
    endif()
    file(STRINGS "${source}" lines REGEX "${include_re}\"[A-Za-z_]+/")
    foreach(line ${lines})
        if(NOT line MATCHES "\"(platform|testkit)/")
            report("${source}" "${line}" "testkit/ outside testkit/ui includes only platform/")
        endif()
    endforeach()
    file(STRINGS "${source}" lines REGEX "${qt_re}")
    foreach(line ${lines})
        report("${source}" "${line}" "Qt in testkit/ lives in testkit/ui alone")
    endforeach()
endforeach()

if(offences)
    message(FATAL_ERROR "the layers are crossed:\n${offences}")
endif()
message(STATUS "program code reaches the system only through platform/, and the layers hold")
