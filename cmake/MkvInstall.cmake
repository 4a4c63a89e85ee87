# What `cmake --install` puts in place for hosts built elsewhere: libMKV.so
# and zolvdmx.h, a pkg-config file (libmkv), a CMake package
# (find_package(MKV) gives MKV::MKV) and the minimal host as an example.
# mkvdemux installs itself from tools/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS MKV EXPORT MKVTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The CMake package finds its files relative to itself, so the installed
# tree can move.
set(MKV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/MKV)
install(EXPORT MKVTargets NAMESPACE MKV:: DESTINATION ${MKV_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MKVConfig.cmake.in ${PROJECT_BINARY_DIR}/MKVConfig.cmake
                              INSTALL_DESTINATION ${MKV_PACKAGE_DIR})
# A 1.x host keeps working with every later 1.x library; the pointer size
# must match (an ARM build's package is not offered to a 64-bit host).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MKVConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MKVConfig.cmake ${PROJECT_BINARY_DIR}/MKVConfigVersion.cmake
        DESTINATION ${MKV_PACKAGE_DIR})

# pkg-config wants absolute paths (a cross build's sysroot is prefixed to
# them), and the prefix is known only when installing: --prefix may differ
# from CMAKE_INSTALL_PREFIX. The directories are filled in now, the prefix
# at install time.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(MKV_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(MKV_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(MKV_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/libmkv.pc.in ${PROJECT_BINARY_DIR}/libmkv.pc.in @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/libmkv.pc.in\" \"${PROJECT_BINARY_DIR}/libmkv.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/libmkv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The minimal host, with a CMake project that builds it against the
# installed package.
install(FILES ${PROJECT_SOURCE_DIR}/tools/examples/minimal_host.c ${PROJECT_SOURCE_DIR}/tools/examples/CMakeLists.txt
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libmkv/examples)
