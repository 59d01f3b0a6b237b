# Test clips generated at test time (see README.md). Include this file from
# a tests/<folder>/CMakeLists.txt, then declare test executables with
# velotrax_media_test(), which is velotrax_test() plus the clips.
include_guard(GLOBAL)

set(VELOTRAX_TEST_MEDIA_DIR ${PROJECT_BINARY_DIR}/test-media)
find_program(VELOTRAX_GST_LAUNCH gst-launch-1.0 REQUIRED)

# The fixture: makes the clips that are missing (cached in the build folder).
add_test(NAME velotrax_test_media_setup
         COMMAND ${CMAKE_COMMAND} -DOUT_DIR=${VELOTRAX_TEST_MEDIA_DIR}
                 -DGST_LAUNCH=${VELOTRAX_GST_LAUNCH}
                 -P ${CMAKE_CURRENT_LIST_DIR}/GenerateTestMedia.cmake)
set_tests_properties(velotrax_test_media_setup PROPERTIES
    FIXTURES_SETUP VelotraxTestMedia TIMEOUT 300 LABELS media)

# Paths and the frame-number reader for tests (tests/media/TestMedia.h).
add_library(velotrax_test_media INTERFACE)
target_compile_definitions(velotrax_test_media INTERFACE
    VELOTRAX_TEST_MEDIA_DIR="${VELOTRAX_TEST_MEDIA_DIR}")

# velotrax_media_test(NAME SOURCES ... DEPS ... [LABELS ...] [TIMEOUT s])
# A GoogleTest executable whose cases need the clips: velotrax_test() whose
# cases require the fixture. Audio goes to a silent sink in tests.
function(velotrax_media_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    velotrax_test(${name}
        SOURCES ${ARG_SOURCES}
        DEPS ${ARG_DEPS} velotrax_test_media
        LABELS ${ARG_LABELS} media
        TIMEOUT ${ARG_TIMEOUT}
        PROPERTIES FIXTURES_REQUIRED VelotraxTestMedia)
endfunction()
