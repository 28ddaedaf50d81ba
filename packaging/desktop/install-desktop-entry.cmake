# Run by `cmake --install`: writes the desktop entry with the absolute path of the installed
# zelto-panel, so the entry starts the panel whether or not its directory is on PATH.
# In: ZELTO_DESKTOP_TEMPLATE, ZELTO_DESKTOP_ID, ZELTO_DESKTOP_WORK_DIR.
set(exec_path "${CMAKE_INSTALL_PREFIX}/bin/zelto-panel")
if(exec_path MATCHES "[\"`$\\\\%\n]")
  # Such characters need escaping rules that few launchers honour; rely on PATH instead.
  message(WARNING "The installation path ${exec_path} holds characters a desktop entry cannot "
                  "carry safely; the entry starts zelto-panel from PATH.")
  set(ZELTO_DESKTOP_EXEC "zelto-panel")
else()
  set(ZELTO_DESKTOP_EXEC "\"${exec_path}\"")
endif()
set(entry "${ZELTO_DESKTOP_WORK_DIR}/${ZELTO_DESKTOP_ID}.desktop")
configure_file("${ZELTO_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE FILES "${entry}")
