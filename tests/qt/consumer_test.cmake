# Installs the build into a fresh prefix, checks that only the public headers are there,
# writes a form from the installed Designer plugin's own description, then configures, builds
# and runs the consumer project against the prefix alone.
# Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR, GENERATOR, FORM_TOOL, CXX_COMPILER and
# EXTRA_FLAGS (the build's sanitizer flags, given to the consumer's compile and link).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The installed API is these headers and nothing else.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
list(SORT headers)
set(expected eftmemb/control.h eftmemb/eftmemb_qt_export.h eftmemb/eftmemb_server_export.h eftmemb/eftmemb_widget.h
    eftmemb/embedded_server.h eftmemb/version.h)
if(NOT headers STREQUAL expected)
  message(FATAL_ERROR "installed headers: ${headers}\nexpected: ${expected}")
endif()
# Each public header stands alone: it includes no header of the library's own but these.
foreach(header ${headers})
  file(STRINGS ${prefix}/include/${header} includes REGEX "^#include")
  foreach(line ${includes})
    if(line MATCHES "\"" OR (line MATCHES "<eftmemb/" AND NOT line MATCHES "<eftmemb/(control|version|eftmemb_qt_export|eftmemb_server_export).h>"))
      message(FATAL_ERROR "${header} includes a header that is not installed: ${line}")
    endif()
  endforeach()
endforeach()

# Shared libraries carry their interface version.
file(GLOB sonames ${prefix}/lib*/libeftmemb_core.so.2 ${prefix}/lib*/*/libeftmemb_core.so.2
     ${prefix}/lib*/libeftmemb_qt.so.2 ${prefix}/lib*/*/libeftmemb_qt.so.2)
list(LENGTH sonames found)
if(NOT found EQUAL 2)
  message(FATAL_ERROR "no versioned libeftmemb_core.so.2 and libeftmemb_qt.so.2 in ${prefix}: ${sonames}")
endif()

# The widget and server libraries export their installed class and nothing else of the project.
foreach(lib_api "libeftmemb_qt.so.2=eft::qt::EftMembWidget" "libeftmemb_server.so.2=eft::server::EmbeddedServer")
  string(REPLACE "=" ";" lib_api "${lib_api}")
  list(GET lib_api 0 lib)
  list(GET lib_api 1 api)
  file(GLOB_RECURSE path ${prefix}/*/${lib})
  run("symbols of ${lib}" nm -DC --defined-only ${path})
  string(REPLACE "\n" ";" symbols "${last_output}")
  set(exported 0)
  foreach(line IN LISTS symbols)
    # The project's own functions and classes; a standard template instantiated on a project
    # type is weak and shared by whoever needs it, whatever the library's visibility.
    if(line MATCHES " [A-Za-z] eft::" AND NOT line MATCHES "${api}")
      message(FATAL_ERROR "${lib} exports a symbol outside its installed API: ${line}")
    endif()
    if(line MATCHES "${api}")
      math(EXPR exported "${exported} + 1")
    endif()
  endforeach()
  if(exported EQUAL 0)
    message(FATAL_ERROR "${lib} does not export ${api}")
  endif()
endforeach()

file(GLOB_RECURSE plugin ${prefix}/*/libeftmemb_designer.so)
if(NOT plugin)
  message(FATAL_ERROR "the Designer plugin is not installed")
endif()
file(COPY ${SOURCE_DIR}/ DESTINATION ${WORK_DIR}/src)
run("designer form" ${FORM_TOOL} ${plugin} ${WORK_DIR}/src/host_form.ui)

file(GLOB_RECURSE pc_file ${prefix}/*/eftmemb-core.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run("configure" ${CMAKE_COMMAND} -S ${WORK_DIR}/src -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run("build" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("run" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "EFTMemb 2\\.0\\.7 person 9 type 2 load present designed yes listen 127\\.0\\.0\\.1")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
run("run core" ${WORK_DIR}/build/core_consumer)
if(NOT last_output MATCHES "core 2\\.0\\.7 \\(2\\.0\\.7\\) encodes a\\+b%26c")
  message(FATAL_ERROR "unexpected core consumer output: ${last_output}")
endif()
