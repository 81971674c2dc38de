# Run by cpack once it has made the zip (CPACK_POST_BUILD_SCRIPTS), before it
# copies it out: packs the zip again with its entries sorted by name, so that
# the order no longer follows the staging folder's directory listing. The
# files' times are already SOURCE_DATE_EPOCH (cpack-file-times.cmake); a zip
# keeps them in local time too, so the time zone is fixed to UTC.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.zip$")
        continue()
    endif()
    get_filename_component(top "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" NAME)
    get_filename_component(staging "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" DIRECTORY)
    file(GLOB_RECURSE entries RELATIVE "${staging}" "${staging}/${top}/*")
    list(SORT entries)
    list(JOIN entries "\n" listing)
    file(WRITE "${staging}/${top}.entries" "${listing}\n")
    file(REMOVE "${package}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env TZ=UTC
        "${CMAKE_COMMAND}" -E tar cf "${package}" --format=zip "--files-from=${top}.entries"
        WORKING_DIRECTORY "${staging}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
