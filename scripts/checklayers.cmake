# Checks that every source file keeps to its layer, by its #include lines:
#   cmake -DSOURCE_DIR=<the src folder> -P scripts/checklayers.cmake
# The build runs it before compiling the libraries, and the test suite runs it as the test
# "layers". Lists every include that breaks a rule, then fails.
#
# Layers (one library each, see src/CMakeLists.txt):
# - src/httpServer/: the HTTP server. Includes its own headers, Qt and the standard library.
# - src/platform/: the outside interfaces (libmodbus, processes, sockets, OS differences).
#   Includes its own headers, Qt, the standard library, libmodbus and the system's headers.
# - src/: the application. Uses both libraries, but starts no process, opens no TCP socket of
#   its own and reaches libmodbus only through the platform layer.
# ipchelper in src/httpServer/ is application code that lives beside the server.
cmake_minimum_required(VERSION 3.16)

if(NOT SOURCE_DIR OR NOT IS_DIRECTORY "${SOURCE_DIR}")
    message(FATAL_ERROR "checklayers: give the src folder as -DSOURCE_DIR=<dir>")
endif()

set(APPLICATION_IN_SERVER_FOLDER ipchelper.h ipchelper.cpp)
# What only the platform layer may include.
set(PLATFORM_ONLY QProcess QTcpSocket modbus.h)

function(names_in out folder)
    file(GLOB paths LIST_DIRECTORIES false "${folder}/*.h" "${folder}/*.cpp")
    set(names "")
    foreach(path IN LISTS paths)
        get_filename_component(name "${path}" NAME)
        list(APPEND names "${name}")
    endforeach()
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

names_in(server_files "${SOURCE_DIR}/httpServer")
names_in(platform_files "${SOURCE_DIR}/platform")
names_in(application_files "${SOURCE_DIR}")
list(REMOVE_ITEM server_files ${APPLICATION_IN_SERVER_FOLDER})
set(project_headers ${server_files} ${platform_files} ${application_files} ${APPLICATION_IN_SERVER_FOLDER})
list(FILTER project_headers INCLUDE REGEX "\\.h$")

set(violations 0)

# Checks one file's includes: in double quotes only the headers in `own`, in angle brackets
# nothing in `foreign`.
function(check_file folder file layer own foreign)
    file(STRINGS "${SOURCE_DIR}/${folder}${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "include[ \t]*([\"<])([^\">]*)[\">]" found "${line}")
        set(name "${CMAKE_MATCH_2}")
        if(CMAKE_MATCH_1 STREQUAL "\"")
            set(shown "\"${name}\"")
            list(FIND own "${name}" at)
            set(allowed TRUE)
            if(at EQUAL -1)
                set(allowed FALSE)
            endif()
        else()
            set(shown "<${name}>")
            list(FIND foreign "${name}" at)
            set(allowed FALSE)
            if(at EQUAL -1)
                set(allowed TRUE)
            endif()
        endif()
        if(NOT allowed)
            message("src/${folder}${file} includes ${shown}: not allowed in ${layer}")
            math(EXPR violations "${violations} + 1")
        endif()
    endforeach()
    set(violations ${violations} PARENT_SCOPE)
endfunction()

set(server_headers ${server_files})
list(FILTER server_headers INCLUDE REGEX "\\.h$")
set(platform_headers ${platform_files})
list(FILTER platform_headers INCLUDE REGEX "\\.h$")
# The server's own sockets are its business; a process or the Modbus library are not.
set(not_for_server ${project_headers} QProcess modbus.h)
list(REMOVE_ITEM not_for_server ${server_headers})
set(not_for_platform ${project_headers})
list(REMOVE_ITEM not_for_platform ${platform_headers})

foreach(file IN LISTS server_files)
    check_file("httpServer/" "${file}" "the HTTP server (its own headers and Qt only)"
        "${server_headers}" "${not_for_server}")
endforeach()
foreach(file IN LISTS platform_files)
    check_file("platform/" "${file}" "the platform layer (its own headers, Qt, libmodbus, the system)"
        "${platform_headers}" "${not_for_platform}")
endforeach()
foreach(file IN LISTS application_files)
    check_file("" "${file}" "the application (processes, sockets and libmodbus go through src/platform/)"
        "${project_headers}" "${PLATFORM_ONLY}")
endforeach()
foreach(file IN LISTS APPLICATION_IN_SERVER_FOLDER)
    if(EXISTS "${SOURCE_DIR}/httpServer/${file}")
        check_file("httpServer/" "${file}" "the application (processes, sockets and libmodbus go through src/platform/)"
            "${project_headers}" "${PLATFORM_ONLY}")
    endif()
endforeach()

if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include(s) break the layers")
endif()
