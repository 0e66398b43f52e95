# Installs the build into a fresh prefix, then configures, builds and runs the consumer
# project against it. Arguments: BUILD_DIR, SOURCE_DIR, WORK_DIR, GENERATOR, CXX_COMPILER and
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
foreach(header include/eftmemb/qt/eftmemb_widget.h include/eftmemb/control/eftmemb.h)
  if(NOT EXISTS ${prefix}/${header})
    message(FATAL_ERROR "not installed: ${header}")
  endif()
endforeach()
file(GLOB_RECURSE private_headers ${prefix}/include/*_p.h)
if(private_headers)
  message(FATAL_ERROR "private headers installed: ${private_headers}")
endif()

run("configure" ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run("build" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("run" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "EFTMemb 2\\.0\\.7 person 9 type 2 load present")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
