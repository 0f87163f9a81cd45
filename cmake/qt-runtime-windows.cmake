# Qt's DLLs and the plugins the programs and tests load, copied beside them
# into bin/ as a workstation's program folder holds them: Windows finds the
# DLLs in the program's folder, Qt its plugins in the folders below it. No
# qt.conf and no PATH to set, under Wine or not.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Sql Test)
set(tavrel_qt_runtime_commands)
foreach(library Core Gui Widgets Sql Test)
  list(APPEND tavrel_qt_runtime_commands
       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::${library}> ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endforeach()
# The windows platform for the programs, offscreen for the tests; the
# Firebird and ODBC drivers; the native look.
foreach(plugin platforms/QWindowsIntegrationPlugin platforms/QOffscreenIntegrationPlugin
               sqldrivers/QIBaseDriverPlugin sqldrivers/QODBCDriverPlugin styles/QWindowsVistaStylePlugin)
  get_filename_component(folder ${plugin} DIRECTORY)
  get_filename_component(name ${plugin} NAME)
  list(APPEND tavrel_qt_runtime_commands
       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${folder}
       COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::${name}> ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${folder})
endforeach()
# The Russian texts of Qt's standard buttons ("Да", "Нет"): data, the
# same for every system, from Debian's Qt translations.
find_file(TAVREL_QTBASE_RU qtbase_ru.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
list(APPEND tavrel_qt_runtime_commands
     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/translations
     COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVREL_QTBASE_RU} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/translations)
add_custom_target(tavrel_qt_runtime ALL ${tavrel_qt_runtime_commands} VERBATIM)
