# llhttp, the HTTP/1.1 parser that Node.js uses, as the static library
# llhttp::llhttp. An installed llhttp CMake package wins; otherwise it is
# built from the C sources that Debian's node-llhttp ships.
find_package(llhttp CONFIG QUIET)
if(TARGET llhttp::llhttp_static)
    add_library(llhttp::llhttp ALIAS llhttp::llhttp_static)
    return()
elseif(TARGET llhttp::llhttp)
    return()
endif()

set(CORVANE_LLHTTP_SOURCE_DIR "/usr/share/llhttp" CACHE PATH
    "Folder holding llhttp's api.c, http.c and llhttp.c")
set(CORVANE_LLHTTP_INCLUDE_DIR "/usr/share/include/llhttp" CACHE PATH
    "Folder holding llhttp.h")
foreach(file ${CORVANE_LLHTTP_SOURCE_DIR}/api.c ${CORVANE_LLHTTP_SOURCE_DIR}/http.c
        ${CORVANE_LLHTTP_SOURCE_DIR}/llhttp.c ${CORVANE_LLHTTP_INCLUDE_DIR}/llhttp.h)
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "llhttp not found: ${file} is missing. "
            "Install Debian's node-llhttp, or set CORVANE_LLHTTP_SOURCE_DIR and "
            "CORVANE_LLHTTP_INCLUDE_DIR.")
    endif()
endforeach()

add_library(corvane_llhttp STATIC
    ${CORVANE_LLHTTP_SOURCE_DIR}/api.c
    ${CORVANE_LLHTTP_SOURCE_DIR}/http.c
    ${CORVANE_LLHTTP_SOURCE_DIR}/llhttp.c)
target_include_directories(corvane_llhttp SYSTEM PUBLIC ${CORVANE_LLHTTP_INCLUDE_DIR})
set_target_properties(corvane_llhttp PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON)
add_library(llhttp::llhttp ALIAS corvane_llhttp)
