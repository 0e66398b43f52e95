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
set(expected eftmemb/control.h eftmemb/eftmemb_core_export.h eftmemb/eftmemb_qt_export.h
    eftmemb/eftmemb_server_export.h eftmemb/eftmemb_widget.h eftmemb/embedded_server.h eftmemb/version.h)
if(NOT headers STREQUAL expected)
  message(FATAL_ERROR "installed headers: ${headers}\nexpected: ${expected}")
endif()
# Each public header stands alone: it includes no header of the library's own but these.
foreach(header ${headers})
  file(STRINGS ${prefix}/include/${header} includes REGEX "^#include")
  foreach(line ${includes})
    if(line MATCHES "\"" OR (line MATCHES "<eftmemb/" AND NOT line MATCHES "<eftmemb/(control|version|eftmemb_(core|qt|server)_export).h>"))
      message(FATAL_ERROR "${header} includes a header that is not installed: ${line}")
    endif()
  endforeach()
endforeach()

# Every library installed and what of the project it may export, each name a class or function
# whose own symbols (members, vtable, typeinfo) go with it. The widget library holds the core and
# exports the control's API beside the widget; the server library keeps its part of the core
# local, so a host loading both finds each of the project's symbols in one library only. The
# Designer plugin exports only the entry points Qt gives it. A library missing from this table
# (the shared ones by their versioned name, so an unversioned one is missing too), a name it
# lacks or any symbol beyond it fails.
set(installed_api
  "libeftmemb_qt.so.2=eft::qt::EftMembWidget,eft::EFTMemb,eft::HostServices,eft::libraryVersion"
  "libeftmemb_server.so.2=eft::server::EmbeddedServer,eft::server::defaultSweepCacheBytes"
  "libeftmemb_designer.so=qt_plugin_instance,qt_plugin_query_metadata_v2")
file(GLOB_RECURSE installed_libs LIST_DIRECTORIES false ${prefix}/*.so ${prefix}/*.so.*)
set(checked "")
foreach(path IN LISTS installed_libs)
  get_filename_component(lib ${path} NAME)
  if(IS_SYMLINK ${path})
    continue()
  endif()
  string(REGEX REPLACE "\\.so\\.2\\.[0-9.]+$" ".so.2" soname ${lib})
  set(api "")
  foreach(entry IN LISTS installed_api)
    if(entry MATCHES "^${soname}=(.*)$")
      string(REPLACE "," ";" api "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(api STREQUAL "")
    message(FATAL_ERROR "${lib} is installed but has no entry in the table of exported APIs")
  endif()
  list(APPEND checked ${soname})
  run("symbols of ${lib}" nm -DC --defined-only ${path})
  string(REPLACE "\n" ";" symbols "${last_output}")
  foreach(name IN LISTS api)
    set(found_${name} FALSE)
  endforeach()
  foreach(line IN LISTS symbols)
    # Every defined symbol counts, the standard library's and Boost's template instances too:
    # a host that binds to our copy of one breaks when we rebuild with another version. Only
    # the linker's own markers of the data segment are in every library.
    string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" name "${line}")
    if(name STREQUAL "" OR name MATCHES "^(_edata|_end|__bss_start)$")
      continue()
    endif()
    string(REGEX REPLACE "^(typeinfo name for |typeinfo for |vtable for |VTT for |construction vtable for |guard variable for |(non-)?virtual thunk to )" "" name "${name}")
    # A template function's name starts with its return type.
    string(REGEX REPLACE "^[A-Za-z_:]+[&* ]+(eft::)" "\\1" name "${name}")
    set(allowed FALSE)
    foreach(api_name IN LISTS api)
      if(name MATCHES "^${api_name}($|[:(<[ ])")
        set(allowed TRUE)
        set(found_${api_name} TRUE)
      endif()
    endforeach()
    if(NOT allowed)
      message(FATAL_ERROR "${lib} exports a symbol outside its installed API: ${line}")
    endif()
  endforeach()
  foreach(name IN LISTS api)
    if(NOT found_${name})
      message(FATAL_ERROR "${lib} does not export ${name}")
    endif()
  endforeach()
endforeach()
list(SORT checked)
if(NOT checked STREQUAL "libeftmemb_designer.so;libeftmemb_qt.so.2;libeftmemb_server.so.2")
  message(FATAL_ERROR "installed libraries: ${checked}\nexpected the widget, server and Designer plugin libraries")
endif()

file(GLOB_RECURSE plugin ${prefix}/*/libeftmemb_designer.so)
if(NOT plugin)
  message(FATAL_ERROR "the Designer plugin is not installed")
endif()
file(COPY ${SOURCE_DIR}/ DESTINATION ${WORK_DIR}/src)
run("designer form" ${FORM_TOOL} ${plugin} ${WORK_DIR}/src/host_form.ui)

file(GLOB_RECURSE pc_file ${prefix}/*/eftmemb-widget.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run("configure" ${CMAKE_COMMAND} -S ${WORK_DIR}/src -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run("build" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("run" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "EFTMemb 2\\.0\\.7 person 9 type 2 load present designed yes listen 127\\.0\\.0\\.1 language fr caption Char&ger")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
run("run core" ${WORK_DIR}/build/core_consumer)
if(NOT last_output MATCHES "core 2\\.0\\.7 \\(2\\.0\\.7\\) encodes a\\+b%26c")
  message(FATAL_ERROR "unexpected core consumer output: ${last_output}")
endif()
