#!/usr/bin/env bash
# Builds the sample installer with the windows preset, then the sample image
# with the native preset, which copies that installer into the image.
#   WREN_WINDOWS_BUILD  build folder of the windows preset (default build/windows)
#   WREN_NATIVE_BUILD   build folder of the native preset (default build/native)
set -euo pipefail
cd "$(dirname "$0")/../.."
windows=${WREN_WINDOWS_BUILD:-build/windows}
native=${WREN_NATIVE_BUILD:-build/native}

cmake --preset windows -B "$windows" >/dev/null
cmake --build "$windows" -j2 --target MarloSetup
cmake --preset native -B "$native" -DWREN_SAMPLE_INSTALLER="$PWD/$windows/tools/sample_installer/MarloSetup.exe" >/dev/null
cmake --build "$native" -j2 --target sample_image
echo "sample game folder: $native/tools/sample/game"
echo "publish folder:     $native/tools/sample/publish"
