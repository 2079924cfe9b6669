file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(path bin/pellora bin/pellora-cli bin/pellora-skinpack bin/pellora-exchange
             lib/pellora/libmurmur.so share/pellora/Local/EN/Messages.cfg
             "share/pellora/Local/us/Default Selects.dat" share/pellora/Alert.wav
             share/pellora/pellora.png share/pellora/Skins/Harbrook/pellora.css
             share/pellora/Skins/Harbrook/skin.skn)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "missing after install: ${path}")
  endif()
  if(NOT EXISTS ${BUILD}/${path})
    message(FATAL_ERROR "missing in the build tree: ${path}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
