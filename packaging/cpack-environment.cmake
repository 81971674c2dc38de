# Read by cpack before it packages: file times in the packages come from
# SOURCE_DATE_EPOCH, taken when the build was configured from the environment
# or the last commit, unless cpack's own environment sets it.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_CORVANE_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_CORVANE_SOURCE_DATE_EPOCH})
endif()
