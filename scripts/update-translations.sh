#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Brings the English translation up to date with the window's Japanese texts: new texts
# come in unfinished, texts no longer used are marked obsolete. Translate what is new in
# app/translations/zub3manager_en.ts (Qt Linguist, or by hand), then build: the build turns
# it into the .qm the program carries, and test_Translation fails on anything unfinished.
set -euo pipefail
cd "$(dirname "$0")/.."
/usr/lib/qt6/bin/lupdate -locations none -no-obsolete -source-language ja -target-language en \
  -I . app toolkit widgets -ts app/translations/zub3manager_en.ts
