# Sources of this part of the library, added to zorbelutilnd_objects.
target_sources(zorbelutilnd_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/token/display_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/token/tac_properties_dialog.cpp)
