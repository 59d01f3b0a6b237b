# Helpers shared by every folder of the project.

# velotrax_library(NAME SOURCES src... [DEPS target...])
# A static library for one subsystem folder; DEPS are linked publicly.
function(velotrax_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
    # The velotrax program links every subsystem library.
    set_property(GLOBAL APPEND PROPERTY VELOTRAX_LIBRARIES ${name})
endfunction()

# velotrax_version_note(TARGET DESCRIPTION text [ORIGINAL name] [VERSION a.b.c.d])
# Embeds the version note (product and file version, string values) into a
# binary; the version is the project's unless given.
function(velotrax_version_note target)
    cmake_parse_arguments(ARG "" "DESCRIPTION;ORIGINAL;VERSION" "" ${ARGN})
    if(NOT ARG_ORIGINAL)
        set(ARG_ORIGINAL ${target})
    endif()
    set(VT_FILE_DESCRIPTION "${ARG_DESCRIPTION}")
    set(VT_ORIGINAL_FILENAME "${ARG_ORIGINAL}")
    set(VT_INTERNAL_NAME "${target}")
    string(MAKE_C_IDENTIFIER "${target}" VT_INTERNAL_NAME_ID)
    if(ARG_VERSION)
        string(REPLACE "." ";" given "${ARG_VERSION}")
    endif()
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(VT_${part} ${PROJECT_VERSION_${part}})
        if(ARG_VERSION)
            list(POP_FRONT given VT_${part})
        endif()
        if(NOT VT_${part})
            set(VT_${part} 0)
        endif()
    endforeach()
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version_note.cpp.in ${out} @ONLY)
    target_sources(${target} PRIVATE ${out})
endfunction()

# velotrax_test(NAME SOURCES src... DEPS target... [LABELS l...] [TIMEOUT s]
#               [PROPERTIES name value...])
# One GoogleTest executable; each test case is its own CTest test. Test
# discovery splits every list-valued property, so each property here has a
# single value: only the first label is kept, and PROPERTIES takes
# name/value pairs with single values (FIXTURES_REQUIRED, RUN_SERIAL, ...).
# The test main sets the rest of the test environment itself.
function(velotrax_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock velotrax_testmain)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(props TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT QT_QPA_PLATFORM=offscreen ${ARG_PROPERTIES})
    if(ARG_LABELS)
        list(GET ARG_LABELS 0 label)
        list(APPEND props LABELS ${label})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${props})
endfunction()
