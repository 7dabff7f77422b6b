# Installs the build into a fresh prefix and checks that a desktop would find everything:
# the three programs, the launcher entry that claims clipvaneshelf: links, a valid software-centre
# description and the icon. Run as: cmake -DBUILD=<build dir> -P InstallTree.cmake
string(RANDOM LENGTH 8 _suffix)
set(_prefix "${BUILD}/install-check-${_suffix}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${_prefix}"
                RESULT_VARIABLE _status OUTPUT_QUIET)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${_status})")
endif()

foreach(_file bin/clipvane bin/clipvane-cli bin/clipvane-service
              share/applications/app.clipvane.Clipvane.desktop
              share/metainfo/app.clipvane.Clipvane.metainfo.xml
              share/icons/hicolor/scalable/apps/app.clipvane.Clipvane.svg)
    if(NOT EXISTS "${_prefix}/${_file}")
        message(FATAL_ERROR "not installed: ${_file}")
    endif()
endforeach()

file(READ "${_prefix}/share/applications/app.clipvane.Clipvane.desktop" _entry)
foreach(_line "MimeType=x-scheme-handler/clipvaneshelf;" "Exec=clipvane %u" "Icon=app.clipvane.Clipvane")
    string(FIND "${_entry}" "${_line}" _at)
    if(_at EQUAL -1)
        message(FATAL_ERROR "the desktop entry lacks ${_line}")
    endif()
endforeach()

execute_process(COMMAND appstreamcli validate --no-net
                        "${_prefix}/share/metainfo/app.clipvane.Clipvane.metainfo.xml"
                RESULT_VARIABLE _valid OUTPUT_VARIABLE _report ERROR_VARIABLE _report)
if(NOT _valid EQUAL 0)
    message(FATAL_ERROR "appstreamcli rejects the metainfo:\n${_report}")
endif()
file(REMOVE_RECURSE "${_prefix}")
message(STATUS "installed tree complete")
