# Builds the Debian packages in a scratch folder and checks what each holds with dpkg-deb -c:
# the server without Qt, the host with its .desktop file, the development files, stripped
# programs with their symbols in -dbgsym packages, and the maintainer scripts.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P package_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND cpack -G DEB -B ${WORK_DIR} WORKING_DIRECTORY ${BUILD_DIR}
  RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()

function(expect_in text what)
  foreach(wanted IN LISTS ARGN)
    string(FIND "${text}" "${wanted}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${what} lacks ${wanted}:\n${text}")
    endif()
  endforeach()
endfunction()

function(expect_not_in text what)
  foreach(unwanted IN LISTS ARGN)
    string(FIND "${text}" "${unwanted}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${what} holds ${unwanted}:\n${text}")
    endif()
  endforeach()
endfunction()

foreach(package server host dev)
  file(GLOB deb ${WORK_DIR}/eftmemb-${package}_*.deb)
  file(GLOB ddeb ${WORK_DIR}/eftmemb-${package}-dbgsym_*.ddeb)
  if(NOT deb)
    file(GLOB all ${WORK_DIR}/*)
    message(FATAL_ERROR "no eftmemb-${package} package among: ${all}\n${out}")
  endif()
  execute_process(COMMAND dpkg-deb -c ${deb} RESULT_VARIABLE listed OUTPUT_VARIABLE contents_${package})
  execute_process(COMMAND dpkg-deb -I ${deb} OUTPUT_VARIABLE control_${package})
  if(NOT listed EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -c failed on ${deb}")
  endif()
  set(deb_${package} ${deb})
  set(ddeb_${package} ${ddeb})
endforeach()

expect_in("${contents_server}" "the server package"
  "./usr/bin/eft-server" "./usr/bin/eft-driver" "./usr/lib/systemd/system/eft-server.service"
  "./usr/share/doc/eftmemb/eft-server.env" "./usr/share/man/man1/eft-server.1" "libeftmemb_server.so.2")
# The core lives inside the two libraries, not as a library of its own.
expect_not_in("${contents_server}" "the server package" "libeftmemb_qt" "libeftmemb_core" "eft-host" "./usr/include/")
expect_in("${control_server}" "the server package's control" "Package: eftmemb-server" "postinst" "prerm" "postrm" "sqlite3"
  "adduser")
# No Qt library, directly or through the project's own libraries.
string(REGEX MATCH "Depends:[^\n]*" server_depends "${control_server}")
expect_not_in("${server_depends}" "the server package's dependencies" "qt" "Qt" "libgl" "libx")

expect_in("${contents_host}" "the host package"
  "./usr/bin/eft-host" "./usr/share/applications/eft-host.desktop"
  "./usr/share/icons/hicolor/scalable/apps/eft-host.svg" "libeftmemb_qt.so.2")
expect_not_in("${contents_host}" "the host package" "eft-server" "libeftmemb_core" "./usr/include/")
expect_in("${control_host}" "the host package's control" "Package: eftmemb-host" "eftmemb-server (=")

expect_in("${contents_dev}" "the development package"
  "./usr/include/eftmemb/control.h" "./usr/include/eftmemb/eftmemb_widget.h" "EFTMembConfig.cmake" "eftmemb-widget.pc")
expect_not_in("${contents_dev}" "the development package" "./usr/bin/")

# Stripped programs; their symbols in the server's -dbgsym package.
if(NOT ddeb_server)
  message(FATAL_ERROR "no eftmemb-server-dbgsym package:\n${out}")
endif()
execute_process(COMMAND dpkg-deb -c ${ddeb_server} OUTPUT_VARIABLE symbols)
expect_in("${symbols}" "the server's debug symbols" "./usr/lib/debug/")
set(unpacked ${WORK_DIR}/server-unpacked)
execute_process(COMMAND dpkg-deb -x ${deb_server} ${unpacked})
execute_process(COMMAND readelf -S ${unpacked}/usr/bin/eft-server OUTPUT_VARIABLE sections)
expect_not_in("${sections}" "the packaged eft-server" ".debug_info")

# The unit as packaged runs confined, as its own user.
execute_process(COMMAND dpkg-deb --fsys-tarfile ${deb_server} COMMAND tar -xO ./usr/lib/systemd/system/eft-server.service
  OUTPUT_VARIABLE unit)
expect_in("${unit}" "the unit" "User=eftmemb" "StateDirectory=eftmemb" "ProtectSystem=strict" "NoNewPrivileges=yes"
  "ConfigurationDirectoryMode=0750" "LimitNOFILE=")
# The programs and libraries as packaged are hardened: full RELRO and a stack protector.
file(GLOB_RECURSE binaries ${unpacked}/usr/bin/eft-server ${unpacked}/usr/lib/*libeftmemb_server.so.*)
foreach(binary ${binaries})
  if(IS_SYMLINK ${binary})
    continue()
  endif()
  execute_process(COMMAND readelf -d -l -W --dyn-syms ${binary} OUTPUT_VARIABLE elf)
  expect_in("${elf}" "${binary}" "GNU_RELRO" "BIND_NOW" "__stack_chk_fail")
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
