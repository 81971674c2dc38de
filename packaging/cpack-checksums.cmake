# Run by cpack once it has made a package (CPACK_POST_BUILD_SCRIPTS), before
# it copies it out: writes the package's SHA-256 into SHA256SUMS in the
# output folder, in sha256sum's format, one line a package; a line for an
# older package of the same name is replaced.
set(sums "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name "${package}" NAME)
    file(SHA256 "${package}" hash)
    set(lines "")
    if(EXISTS "${sums}")
        file(STRINGS "${sums}" kept)
        foreach(line IN LISTS kept)
            string(SUBSTRING "${line}" 66 -1 kept_name)
            if(NOT kept_name STREQUAL name)
                string(APPEND lines "${line}\n")
            endif()
        endforeach()
    endif()
    file(WRITE "${sums}" "${lines}${hash}  ${name}\n")
endforeach()
