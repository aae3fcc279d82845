# SPDX-License-Identifier: GPL-3.0-or-later
# Run by the install: fills the service's unit template (zub3_template) with the folder the
# programs go to (ZUB3_INSTALL_BINDIR, relative to the install's prefix or absolute) and
# writes it where systemd reads units under that prefix, as install(FILES) would.
cmake_path(ABSOLUTE_PATH ZUB3_INSTALL_BINDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
set(zub3_unit "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/zub3-serve@.service")
message(STATUS "Installing: ${zub3_unit}")
configure_file("${zub3_template}" "${zub3_unit}" @ONLY)
file(CHMOD "${zub3_unit}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zub3_unit}")
