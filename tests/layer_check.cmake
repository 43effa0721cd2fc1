# Checks the include graph of src/ against the layers, lowest first:
#   common, paradox, display, link, readings, recording, chart, analysis, exports, assets,
#   reports, app, cli
# A file may include headers of its own layer and of the layers below it. Widget code lives
# in the ui/ folders; code outside them never includes a ui/ header.
# Run: cmake -DSOURCE_DIR=<src> -P layer_check.cmake
set(layers common paradox display link readings recording chart analysis exports assets reports
    app cli)

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(violations "")
foreach(f IN LISTS files)
    string(REGEX MATCH "^[^/]+" layer "${f}")
    list(FIND layers "${layer}" rank)
    if(rank LESS 0)
        string(APPEND violations "  ${f}: not in a known layer folder\n")
        continue()
    endif()
    set(in_ui FALSE)
    if(f MATCHES "/ui/")
        set(in_ui TRUE)
    endif()
    file(STRINGS ${SOURCE_DIR}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" inc "${line}")
        string(REGEX MATCH "^[^/]+" target "${inc}")
        list(FIND layers "${target}" target_rank)
        if(target_rank LESS 0)
            continue() # a header beside the file, or generated
        endif()
        if(target_rank GREATER rank)
            string(APPEND violations "  ${f}: includes ${inc} from the higher layer ${target}\n")
        endif()
        if(NOT in_ui AND inc MATCHES "/ui/")
            string(APPEND violations "  ${f}: core code includes the widget header ${inc}\n")
        endif()
    endforeach()
endforeach()

list(LENGTH files count)
if(violations)
    message(FATAL_ERROR "Include layering broken:\n${violations}")
endif()
message(STATUS "Layers kept in ${count} files")
