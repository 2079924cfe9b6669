# `cmake --install` lays out under the prefix what the build tree holds, and what the desktop
# needs: the programs, the speech engine and its check, the chime module, the shipped data and
# skins, the menu entry and metainfo, the icon, the manual pages and the shell completion.
# Usage: cmake -DBUILD=DIR -DPREFIX=DIR -DAPP_ID=ID -P InstallLayout.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

# Laid out the same in the build tree, where the program runs before it is installed.
set(both bin/pellora bin/pellora-cli bin/pellora-skinpack bin/pellora-exchange
         lib/pellora/libmurmur.so lib/pellora/libpellora-chime.so lib/pellora/pellora-speech-check
         share/pellora/Local/EN/Messages.cfg
         "share/pellora/Local/us/Default Selects.dat" share/pellora/Alert.wav
         share/pellora/pellora.png
         share/applications/${APP_ID}.desktop share/metainfo/${APP_ID}.metainfo.xml
         share/man/man1/pellora.1.gz share/man/man1/pellora-cli.1.gz
         share/man/man1/pellora-skinpack.1.gz share/man/man1/pellora-exchange.1.gz)
foreach(skin Harbrook Nightfall Vellum "High Contrast")
  list(APPEND both "share/pellora/Skins/${skin}/pellora.css" "share/pellora/Skins/${skin}/credits.txt"
       "share/pellora/Skins/${skin}/skin.skn")
endforeach()
# Only in the installation.
set(installed share/icons/hicolor/scalable/apps/pellora.svg
              share/bash-completion/completions/pellora-cli share/doc/pellora/copyright
              share/doc/pellora/changelog.gz)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND installed share/icons/hicolor/${size}x${size}/apps/pellora.png)
endforeach()

foreach(path IN LISTS both installed)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "missing after install: ${path}")
  endif()
endforeach()
foreach(path IN LISTS both)
  if(NOT EXISTS "${BUILD}/${path}")
    message(FATAL_ERROR "missing in the build tree: ${path}")
  endif()
endforeach()
# The installed companion finds the installation folder beside it: in a fresh home its first
# run copies the shipped libraries and the default selection, and it picks a message.
set(home ${PREFIX}-home)
file(REMOVE_RECURSE ${home})
file(MAKE_DIRECTORY ${home})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env HOME=${home} XDG_DATA_HOME=${home}/.local/share
          XDG_CONFIG_HOME=${home}/.config LANG=C.UTF-8 ${PREFIX}/bin/pellora-cli pick
  RESULT_VARIABLE result OUTPUT_VARIABLE picked ERROR_VARIABLE errors TIMEOUT 60)
if(NOT result EQUAL 0 OR picked STREQUAL "")
  message(FATAL_ERROR "the installed pellora-cli did not pick a message (${result}): ${errors}")
endif()
set(local "${home}/.local/share/Harbrook/Pellora 3/Local")
if(NOT EXISTS "${local}/en/messages.cfg" AND NOT EXISTS "${local}/EN/Messages.cfg")
  message(FATAL_ERROR "the installed pellora-cli copied no library from ${PREFIX}/share/pellora")
endif()
file(REMOVE_RECURSE ${PREFIX} ${home})
