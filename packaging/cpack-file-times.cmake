# Run by cpack once the files are in its staging folder and before it packs
# them (CPACK_PRE_BUILD_SCRIPTS): gives every file and folder there the time
# SOURCE_DATE_EPOCH, which the zip and the installer keep.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    return()
endif()
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
execute_process(COMMAND touch --no-dereference --date=@$ENV{SOURCE_DATE_EPOCH}
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" ${entries} COMMAND_ERROR_IS_FATAL ANY)
