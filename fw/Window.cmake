# Where dialogs open; the benchmark's floor uses it too.
add_library(qm_fw_placement STATIC ${CMAKE_CURRENT_LIST_DIR}/dialog_placement.cpp)
qm_target_defaults(qm_fw_placement)
target_link_libraries(qm_fw_placement PUBLIC qm_platform user32)

# The window part of the framework: application object, windows, dialogs, message maps.
add_library(qm_fw_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/cmd_target.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/win_app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wnd.cpp)
qm_target_defaults(qm_fw_window)
target_link_libraries(qm_fw_window PUBLIC qm_fw_core qm_fw_placement user32 gdi32)
# The entry point is compiled into each executable that links the framework (see win_main.cpp).
target_sources(qm_fw_window INTERFACE ${CMAKE_CURRENT_LIST_DIR}/win_main.cpp)
if(MINGW)
  target_link_options(qm_fw_window INTERFACE -municode)
elseif(MSVC)
  target_link_options(qm_fw_window INTERFACE /ENTRY:wWinMainCRTStartup)
endif()
