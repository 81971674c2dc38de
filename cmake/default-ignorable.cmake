# Writes a C++ table of the Unicode code points that render as nothing
# (the property Default_Ignorable_Code_Point) from Debian's unicode-data, so
# that the Linux build and the Windows cross-build share one list.
#   corvane_default_ignorable_table(OUTPUT_HEADER)
set(CORVANE_UNICODE_PROPERTIES /usr/share/unicode/DerivedCoreProperties.txt
    CACHE FILEPATH "Unicode's DerivedCoreProperties.txt (Debian package unicode-data)")

function(corvane_default_ignorable_table output)
    if(NOT EXISTS "${CORVANE_UNICODE_PROPERTIES}")
        message(FATAL_ERROR "${CORVANE_UNICODE_PROPERTIES} is missing: install unicode-data")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CORVANE_UNICODE_PROPERTIES}")
    file(STRINGS "${CORVANE_UNICODE_PROPERTIES}" lines
         REGEX "^[0-9A-F.]+ *; Default_Ignorable_Code_Point")
    set(ranges "")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "^([0-9A-F]+)(\\.\\.([0-9A-F]+))?" range "${line}")
        set(first ${CMAKE_MATCH_1})
        set(last ${CMAKE_MATCH_3})
        if(NOT last)
            set(last ${first})
        endif()
        string(APPEND ranges "    {0x${first}, 0x${last}},\n")
    endforeach()
    list(LENGTH lines count)
    if(count LESS 20)
        message(FATAL_ERROR "${CORVANE_UNICODE_PROPERTIES} lists only ${count} ranges")
    endif()
    file(CONFIGURE OUTPUT "${output}" @ONLY CONTENT [[
#pragma once

// Generated from DerivedCoreProperties.txt: the ranges of
// Default_Ignorable_Code_Point, in ascending order.
namespace corvane {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

inline constexpr CodePointRange kDefaultIgnorable[] = {
@ranges@};

} // namespace corvane
]])
endfunction()
