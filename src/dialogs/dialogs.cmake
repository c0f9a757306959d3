# Sources of this part of the library, added to zorbelutilnd_objects.
target_sources(zorbelutilnd_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/token/display_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/token/tac_properties_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/token/certificate_viewing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/token/token_properties_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/signature_texts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/signature_dialog_parts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/verified_properties_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/verified_properties_tabbed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/token_comparison.cpp
  ${CMAKE_CURRENT_LIST_DIR}/signature/show_with_verification.cpp)

# zorbelu-cert-viewer: the default viewer of certificates and CRLs, a small
# GTK 3 program of its own (the library links no GTK). Built when the GTK
# backend is, into the same bin/ folder as zorbelu.
if(TARGET zorbelutilnd-gtk)
  find_package(PkgConfig QUIET)
  pkg_check_modules(ZORBELU_VIEWER_GTK3 QUIET IMPORTED_TARGET gtk+-3.0)
endif()
if(TARGET PkgConfig::ZORBELU_VIEWER_GTK3)
  add_executable(zorbelu-cert-viewer ${CMAKE_CURRENT_LIST_DIR}/token/cert_viewer/cert_viewer_main.cpp)
  target_link_libraries(zorbelu-cert-viewer PRIVATE PkgConfig::ZORBELU_VIEWER_GTK3 OpenSSL::Crypto zorbelu_x509)
  install(TARGETS zorbelu-cert-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
