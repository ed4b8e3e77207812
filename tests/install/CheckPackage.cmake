# The Debian package as a user installs it: its files under /usr, its post-install step (the
# capture helper executable by group trellan only, with its two capabilities), and a purge
# that leaves nothing behind. Installs into the running system, so it needs root.
#   cmake -DBUILD_DIR=... -DOUT=... -P CheckPackage.cmake
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT uid STREQUAL "0")
  message("installing a package needs root")
  return()  # reported as skipped through SKIP_REGULAR_EXPRESSION
endif()
set(helper /usr/libexec/trellan/trellan-capture)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(failed)
    message(FATAL_ERROR "${ARGN} (${failed}): ${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
# A package left installed by a run that was killed goes first.
execute_process(COMMAND dpkg -s trellan RESULT_VARIABLE absent OUTPUT_QUIET ERROR_QUIET)
if(NOT absent)
  run(apt-get purge -y -qq trellan)
endif()

file(REMOVE_RECURSE "${OUT}")
run(cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT}")
file(GLOB deb "${OUT}/trellan_*.deb")
list(LENGTH deb found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "no single package in ${OUT}: ${deb}")
endif()

run(dpkg-deb -c "${deb}")
foreach(file ./usr/bin/Trellan ./usr/bin/trellan-rows .${helper}
             ./usr/share/applications/trellan.desktop ./usr/share/doc/trellan/README.md
             ./usr/share/man/man1/Trellan.1 ./usr/share/mime/packages/trellan.xml
             ./usr/share/icons/hicolor/scalable/apps/trellan.svg)
  string(FIND "${out}" " ${file}\n" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not in the package: ${file}")
  endif()
endforeach()
# Caches belong to the packages that own them; their triggers rebuild them.
if(out MATCHES "mime\\.cache|mimeinfo\\.cache|icon-theme\\.cache")
  message(SEND_ERROR "the package holds a cache file")
endif()

run(apt-get install -y -qq "${deb}")
run(stat -c "%U %G %a" "${helper}")
if(NOT out STREQUAL "root trellan 750\n")
  message(SEND_ERROR "helper owner and mode: ${out}")
endif()
run(getcap "${helper}")
if(NOT out MATCHES "cap_net_admin,cap_net_raw=ep")
  message(SEND_ERROR "helper capabilities: ${out}")
endif()
run(/usr/bin/Trellan --version)

run(apt-get purge -y -qq trellan)
foreach(gone /usr/bin/Trellan ${helper} /usr/share/doc/trellan)
  if(EXISTS "${gone}")
    message(SEND_ERROR "left after purge: ${gone}")
  endif()
endforeach()
execute_process(COMMAND getent group trellan RESULT_VARIABLE absent OUTPUT_QUIET)
if(NOT absent)
  message(SEND_ERROR "group trellan left after purge")
endif()
execute_process(COMMAND dpkg-statoverride --list "${helper}" RESULT_VARIABLE absent OUTPUT_QUIET)
if(NOT absent)
  message(SEND_ERROR "owner override left after purge")
endif()
