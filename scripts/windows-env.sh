# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced: where the Windows libraries live (setup-windows.sh fills it once).
ZUB3_WINDOWS_CACHE=${ZUB3_WINDOWS_CACHE:-/var/cache/zub3-windows/qt-6.4.2-mingw12}
export ZUB3_WINDOWS_CACHE
