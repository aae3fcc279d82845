# SPDX-License-Identifier: GPL-3.0-or-later
# A cross build for another Debian architecture: Debian's cross compilers
# (crossbuild-essential-ARCH) and that architecture's libraries installed beside the build
# machine's (multiarch). scripts/package.sh --arch exports the DEB_HOST_* and DEB_BUILD_*
# variables of dpkg-architecture before it configures.
if(NOT DEFINED ENV{DEB_HOST_GNU_TYPE})
  message(FATAL_ERROR "cross.cmake: run scripts/package.sh --arch ARCH, which sets DEB_HOST_GNU_TYPE")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $ENV{DEB_HOST_GNU_CPU})
set(CMAKE_C_COMPILER $ENV{DEB_HOST_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER $ENV{DEB_HOST_GNU_TYPE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE $ENV{DEB_HOST_MULTIARCH})
# moc and the other tools that run during the build are the build machine's own Qt's.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/$ENV{DEB_BUILD_MULTIARCH}/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
