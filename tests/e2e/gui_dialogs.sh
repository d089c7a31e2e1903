#!/usr/bin/env bash
# The Options and filter dialogs' own procedures, driven with their controls' messages inside a
# test process under Wine on a virtual display with the Japanese locale.
set -euo pipefail
tests_exe=$1
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup
cd "$QVX_WORK"
"$QVX_WINE" "$tests_exe" || wine_gui_fail "dialog tests failed"
echo "gui dialogs: ok"
