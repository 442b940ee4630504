# The starter's start-up pieces that need no window (the settings file's
# path) build everywhere; the program itself is Windows only.
add_library(wren_shell_core STATIC ${CMAKE_CURRENT_LIST_DIR}/ini_path.cpp)
target_include_directories(wren_shell_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(wren_shell_core PUBLIC wren_common wren_platform)

if(WREN_WINDOWS)
  # The single-instance check.
  add_library(wren_app_gui STATIC ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp)
  target_link_libraries(wren_app_gui PUBLIC wren_framework)

  set(WREN_PUBLISHER_KEY "" CACHE FILEPATH
      "A publisher's public key file (wren-publish keygen): the starter then accepts only what it signs")

  # The starter's own code, shared by WrenStarter.exe and the demo's copy.
  add_library(wren_starter_main OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/starter_app.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_frame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unattended.cpp)
  target_include_directories(wren_starter_main PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(wren_starter_main PRIVATE wren_run wren_wizard wren_unattended_core)

  # wren_starter_exe(<target> <public key file or empty>): a starter, carrying
  # the key as resource IDR_PUBLISHER_KEY when one is given.
  function(wren_starter_exe target key)
    add_executable(${target} WIN32 $<TARGET_OBJECTS:wren_starter_main>)
    target_link_libraries(${target} PRIVATE wren_exe_resources wren_shell_core wren_unattended_core wren_app_gui
      wren_wizard wren_run wren_settings wren_framework wren_engine wren_common wren_platform
      shell32 ole32 comctl32 user32 gdi32 advapi32)
    if(key)
      get_filename_component(key "${key}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
      if(NOT EXISTS "${key}")
        message(FATAL_ERROR "${target}: no public key file ${key}")
      endif()
      set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_publisher_key.rc)
      file(CONFIGURE OUTPUT ${rc} CONTENT "#include \"wizard/resource_ids.h\"\nIDR_PUBLISHER_KEY RCDATA \"${key}\"\n")
      target_sources(${target} PRIVATE ${rc})
      target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
      set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${key}")
    endif()
  endfunction()

  wren_starter_exe(WrenStarter "${WREN_PUBLISHER_KEY}")
  # The demo's starter carries the demo publisher's key, which signs the demo's publication.
  wren_starter_exe(WrenStarterDemo tools/demo/demo-publisher.pub)
  set_target_properties(WrenStarterDemo PROPERTIES OUTPUT_NAME WrenStarter RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
endif()
