# cmake --install into a scratch prefix, as a user installs Trellan: every file in its standard
# place, a desktop entry the validator accepts, the pcapng type taken into the MIME database,
# manual pages that format without warnings, and installed programs that run.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=DESTDIR
                        "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(expected
    bin/Trellan bin/trellan-rows libexec/trellan/trellan-capture
    share/doc/trellan/README.md share/doc/trellan/LICENSE
    share/doc/trellan/docs/screenshots/main-window.png
    share/applications/trellan.desktop
    share/icons/hicolor/scalable/apps/trellan.svg
    share/mime/packages/trellan.xml
    share/man/man1/Trellan.1 share/man/man1/trellan-rows.1
    # Written by update-mime-database once it has taken the type in.
    share/mime/application/x-pcapng.xml)
foreach(size 16 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/trellan.png)
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(SEND_ERROR "not installed: ${file}")
  endif()
endforeach()

execute_process(COMMAND desktop-file-validate "${PREFIX}/share/applications/trellan.desktop"
                RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(failed OR NOT said STREQUAL "")
  message(SEND_ERROR "desktop-file-validate (${failed}): ${said}")
endif()

foreach(page Trellan trellan-rows)
  execute_process(COMMAND man --warnings -l "${PREFIX}/share/man/man1/${page}.1"
                  RESULT_VARIABLE failed OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  if(failed OR NOT warnings STREQUAL "" OR NOT text MATCHES "version")
    message(SEND_ERROR "man ${page} (${failed}): ${warnings}")
  endif()
  execute_process(COMMAND "${PREFIX}/bin/${page}" --version
                  RESULT_VARIABLE failed OUTPUT_VARIABLE version)
  if(failed OR NOT version MATCHES "^${page} ")
    message(SEND_ERROR "${PREFIX}/bin/${page} --version (${failed}): ${version}")
  endif()
endforeach()
