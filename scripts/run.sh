#!/usr/bin/env bash
# Builds and starts the host application with its embedded reference server and demo data.
# Without a display it renders the window to eftmemb.png instead (QT_QPA_PLATFORM=offscreen).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${EFT_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh" eft-host
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: rendering the control after loading the demo sweep to $PWD/eftmemb.png"
  QT_QPA_PLATFORM=offscreen exec "$build/apps/host/eft-host" --load --screenshot "$PWD/eftmemb.png" "$@"
fi
exec "$build/apps/host/eft-host" "$@"
