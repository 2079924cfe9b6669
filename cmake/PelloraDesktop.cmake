# Desktop integration: the menu entry, the AppStream metainfo, the icon in the hicolor theme,
# the manual pages, shell completion and the documentation folder. Files that carry the home
# page, the version or the application id are made from templates into the build tree's share/
# folder, which has the layout of an installation.

# The application id in reverse-DNS form, made from the home page the way software centres
# expect: https://pellora.example.org/ gives org.example.pellora. The menu entry and the
# metainfo are named after it.
function(pellora_app_id url out)
  string(REGEX REPLACE "^[A-Za-z][A-Za-z0-9+.-]*://" "" rest "${url}")
  string(REGEX REPLACE "[?#].*$" "" rest "${rest}")
  string(REGEX MATCH "^[^/]*" host "${rest}")
  string(LENGTH "${host}" host_length)
  string(SUBSTRING "${rest}" ${host_length} -1 path)
  string(REGEX REPLACE "^.*@" "" host "${host}")
  string(REGEX REPLACE ":[0-9]*$" "" host "${host}")
  string(REPLACE "." ";" labels "${host}")
  list(REVERSE labels)
  string(REPLACE "/" ";" segments "${path}")
  set(parts)
  foreach(part IN LISTS labels segments)
    string(TOLOWER "${part}" part)
    string(REGEX REPLACE "[^a-z0-9_]" "_" part "${part}")
    if(part MATCHES "^[0-9]")
      set(part "_${part}")
    endif()
    if(NOT part STREQUAL "" AND NOT part STREQUAL "www")
      list(APPEND parts "${part}")
    endif()
  endforeach()
  list(LENGTH parts count)
  if(count EQUAL 0)
    message(FATAL_ERROR "PELLORA_HOMEPAGE \"${url}\" names no host")
  endif()
  list(GET parts -1 last)
  if(NOT last STREQUAL "pellora")
    list(APPEND parts pellora)
  endif()
  list(JOIN parts "." id)
  set(${out} "${id}" PARENT_SCOPE)
endfunction()

pellora_app_id("${PELLORA_HOMEPAGE}" PELLORA_APP_ID)
set(PELLORA_APP_ID "${PELLORA_APP_ID}" CACHE INTERNAL "Application id made from the home page")

# Who answers for the package and its change log: an address at the home page's host unless
# the packager names one.
string(REGEX REPLACE "^[A-Za-z][A-Za-z0-9+.-]*://([^/:?#]*).*$" "\\1" pellora_host
       "${PELLORA_HOMEPAGE}")
string(REGEX REPLACE "^www\\." "" pellora_host "${pellora_host}")
set(PELLORA_MAINTAINER "The Pellora developers <developers@${pellora_host}>"
    CACHE STRING "Maintainer named in the package and its change log")

find_program(PELLORA_GZIP gzip REQUIRED)

set(pellora_share_in ${PROJECT_SOURCE_DIR}/share)
set(pellora_share_out ${CMAKE_BINARY_DIR}/share)

# Menu entry and metainfo.
configure_file(${pellora_share_in}/applications/pellora.desktop.in
               ${pellora_share_out}/applications/${PELLORA_APP_ID}.desktop @ONLY)
configure_file(${pellora_share_in}/metainfo/pellora.metainfo.xml.in
               ${pellora_share_out}/metainfo/${PELLORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${pellora_share_out}/applications/${PELLORA_APP_ID}.desktop
        DESTINATION share/applications)
install(FILES ${pellora_share_out}/metainfo/${PELLORA_APP_ID}.metainfo.xml
        DESTINATION share/metainfo)

# The icon: its SVG source and the PNG sizes scripts/make-icon renders from it.
install(FILES ${pellora_share_in}/icons/hicolor/scalable/apps/pellora.svg
        DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${pellora_share_in}/icons/hicolor/${size}x${size}/apps/pellora.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, compressed as Debian keeps them (no name or time in the gzip header, so the
# same page always gives the same bytes).
set(pellora_man_pages)
foreach(page pellora pellora-cli pellora-skinpack pellora-exchange)
  set(page_out ${pellora_share_out}/man/man1/${page}.1)
  configure_file(${pellora_share_in}/man/man1/${page}.1.in ${page_out} @ONLY)
  add_custom_command(
    OUTPUT ${page_out}.gz
    COMMAND ${PELLORA_GZIP} -9 --no-name --force --keep ${page_out}
    DEPENDS ${page_out}
    COMMENT "Compressing the manual page ${page}(1)"
    VERBATIM)
  list(APPEND pellora_man_pages ${page_out}.gz)
endforeach()
add_custom_target(pellora_man_pages ALL DEPENDS ${pellora_man_pages})
install(FILES ${pellora_man_pages} DESTINATION share/man/man1)

# Completion of pellora-cli's commands, options and language codes in bash.
install(FILES ${pellora_share_in}/bash-completion/completions/pellora-cli
        DESTINATION share/bash-completion/completions)

# Copyright and release notes.
set(pellora_changelog ${pellora_share_out}/doc/pellora/changelog)
configure_file(${pellora_share_in}/doc/pellora/changelog.in ${pellora_changelog} @ONLY)
add_custom_command(
  OUTPUT ${pellora_changelog}.gz
  COMMAND ${PELLORA_GZIP} -9 --no-name --force --keep ${pellora_changelog}
  DEPENDS ${pellora_changelog}
  COMMENT "Compressing the change log"
  VERBATIM)
add_custom_target(pellora_changelog ALL DEPENDS ${pellora_changelog}.gz)
install(FILES ${pellora_share_in}/doc/pellora/copyright ${pellora_changelog}.gz
        DESTINATION share/doc/pellora)
