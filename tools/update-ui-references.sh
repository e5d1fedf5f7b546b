#!/bin/sh
# Rewrites the window reference pictures in tests/ui/windows/data from the current build:
# run after a deliberate change to how the main window looks, then look at the new pictures
# before committing them. Usage: tools/update-ui-references.sh [BUILD_DIR] (default build/test).
set -e
build=${1:-build/test}
cmake --build "$build" --target test_ui_windows vellumo
VELLUMO_UPDATE_REFERENCES=1 "$build/tests/test_ui_windows" \
    --gtest_filter='DesktopE2E.TheWholeWindowMatchesItsReferencePictures'
git status --short tests/ui/windows/data
