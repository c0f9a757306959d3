# Sources of this part of the library, added to zorbelutilnd_objects.
# The dialog runtime and its backends: the headless one is compiled in, the
# GTK one is a module of its own (src/platform/gtk), built when GTK 3 is
# found and loaded only when a dialog is shown.
target_sources(zorbelutilnd_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_headless.cpp)
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/gtk ${CMAKE_CURRENT_BINARY_DIR}/platform/gtk)
