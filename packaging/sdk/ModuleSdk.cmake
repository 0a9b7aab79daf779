# The module SDK: what a module library of another maker needs to build against
# this program. A module library compiles the framework headers and links the
# static framework library (built position-independent), so that it carries its
# own copy of the connector code as every deliverable does; the framework's
# symbols stay hidden inside it.
set(KORVO_SDK_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/yonderpad)
set(KORVO_SDK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/YonderpadSDK)
set(KORVO_SDK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/yonderpad-dev)

file(GLOB KORVO_SDK_HEADERS ${CMAKE_SOURCE_DIR}/framework/*.h)
install(FILES ${KORVO_SDK_HEADERS} DESTINATION ${KORVO_SDK_INCLUDE_DIR}/framework COMPONENT dev)

set_target_properties(KorvoFramework PROPERTIES EXPORT_NAME Framework)
target_include_directories(KorvoFramework INTERFACE $<INSTALL_INTERFACE:${KORVO_SDK_INCLUDE_DIR}>)
install(TARGETS KorvoFramework EXPORT YonderpadSDK
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT YonderpadSDK NAMESPACE Yonderpad:: FILE YonderpadSDKTargets.cmake
        DESTINATION ${KORVO_SDK_CMAKE_DIR} COMPONENT dev)

include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/YonderpadSDKConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/YonderpadSDKConfig.cmake INSTALL_DESTINATION ${KORVO_SDK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/YonderpadSDKConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/YonderpadSDKConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/YonderpadSDKConfigVersion.cmake
        DESTINATION ${KORVO_SDK_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds its prefix from its own place, so that an SDK
# installed under any prefix (cmake --install --prefix) works as it is.
file(RELATIVE_PATH KORVO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KORVO_PC_TO_PREFIX "${KORVO_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/yonderpad-sdk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/yonderpad-sdk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/yonderpad-sdk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

install(FILES ${CMAKE_SOURCE_DIR}/docs/module-sdk.md DESTINATION ${KORVO_SDK_DOC_DIR} COMPONENT dev)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${KORVO_SDK_DOC_DIR}/examples COMPONENT dev)
