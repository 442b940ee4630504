# The starter's start-up pieces that need no window (settings-file path, the
# file-list block) build everywhere; the program itself is Windows only.
add_library(wren_shell_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ini_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/list_buffer.cpp)
target_include_directories(wren_shell_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(wren_shell_core PUBLIC wren_common wren_platform)

if(WREN_WINDOWS)
  # The idle message loop and the single-instance check, for the install run and tests.
  add_library(wren_app_gui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/idle_loop.cpp)
  target_link_libraries(wren_app_gui PUBLIC wren_framework)

  add_executable(WrenStarter WIN32
    ${CMAKE_CURRENT_LIST_DIR}/starter_app.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_frame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unattended.cpp)
  target_include_directories(WrenStarter PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(WrenStarter PRIVATE wren_exe_resources wren_shell_core wren_unattended_core wren_app_gui wren_wizard wren_install
    wren_wizard wren_settings wren_framework wren_engine wren_common wren_platform
    shell32 ole32 comctl32 user32 gdi32 advapi32)
endif()
