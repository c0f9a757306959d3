# Installation: the libraries with their SONAMEs, the language modules beside
# the library, the headers, a pkg-config file and a CMake package.
include(CMakePackageConfigHelpers)

install(TARGETS zorbelutilnd zorbel zorbelcomm EXPORT zorbelutilndTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/zorbelutil.h
  ${PROJECT_SOURCE_DIR}/include/zorbeltypes.h
  ${PROJECT_SOURCE_DIR}/include/zorbel.h
  ${PROJECT_SOURCE_DIR}/include/zorbelcomm.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZORBELU_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zorbelutilnd)
install(EXPORT zorbelutilndTargets NAMESPACE zorbelutilnd:: DESTINATION ${ZORBELU_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zorbelutilndConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zorbelutilndConfig.cmake INSTALL_DESTINATION ${ZORBELU_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zorbelutilndConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zorbelutilndConfig.cmake ${PROJECT_BINARY_DIR}/zorbelutilndConfigVersion.cmake
  DESTINATION ${ZORBELU_CMAKE_DIR})

# The pkg-config file finds its prefix from its own place, so that an
# installed tree can be moved.
file(RELATIVE_PATH ZORBELU_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
# zorbel.h is installed, so the core library has a file of its own.
foreach(module zorbelutilnd zorbel)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${module}.pc.in ${PROJECT_BINARY_DIR}/${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${module}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
