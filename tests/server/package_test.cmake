# Builds the Debian package in a scratch folder and checks what it holds with dpkg-deb -c.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P package_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND cpack -G DEB -B ${WORK_DIR} WORKING_DIRECTORY ${BUILD_DIR}
  RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()
file(GLOB debs ${WORK_DIR}/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${debs}\n${out}")
endif()
execute_process(COMMAND dpkg-deb -c ${debs} RESULT_VARIABLE listed OUTPUT_VARIABLE contents)
execute_process(COMMAND dpkg-deb -I ${debs} OUTPUT_VARIABLE control)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed on ${debs}")
endif()
foreach(wanted
    "./usr/bin/eft-server"
    "./usr/bin/eft-driver"
    "./usr/lib/systemd/system/eft-server.service"
    "./usr/share/doc/eftmemb/eft-server.env"
    "libeftmemb_core.so.2"
    "./usr/include/eftmemb/")
  string(FIND "${contents}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package lacks ${wanted}:\n${contents}")
  endif()
endforeach()
foreach(wanted "Package: eftmemb" "postinst" "prerm" "Depends:")
  string(FIND "${control}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package's control lacks ${wanted}:\n${control}")
  endif()
endforeach()
# The unit as packaged runs confined, as its own user.
execute_process(COMMAND dpkg-deb --fsys-tarfile ${debs} COMMAND tar -xO ./usr/lib/systemd/system/eft-server.service
  OUTPUT_VARIABLE unit)
foreach(wanted "User=eftmemb" "StateDirectory=eftmemb" "ProtectSystem=strict" "NoNewPrivileges=yes"
    "ConfigurationDirectoryMode=0750" "LimitNOFILE=")
  string(FIND "${unit}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the unit lacks ${wanted}:\n${unit}")
  endif()
endforeach()
# The programs and libraries as packaged are hardened: full RELRO and a stack protector.
execute_process(COMMAND dpkg-deb -x ${debs} ${WORK_DIR}/root)
file(GLOB_RECURSE binaries ${WORK_DIR}/root/usr/bin/eft-server ${WORK_DIR}/root/usr/lib/*libeftmemb_server.so.*)
foreach(binary ${binaries})
  if(IS_SYMLINK ${binary})
    continue()
  endif()
  execute_process(COMMAND readelf -d -l -W --dyn-syms ${binary} OUTPUT_VARIABLE elf)
  foreach(wanted "GNU_RELRO" "BIND_NOW" "__stack_chk_fail")
    string(FIND "${elf}" "${wanted}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${binary} lacks ${wanted}")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
