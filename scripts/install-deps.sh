#!/usr/bin/env bash
# Installs the Debian packages EFTMemb needs; installs only what is missing, so it is cheap
# to run before every build. With --fuzz it adds clang and libFuzzer for scripts/fuzz.sh.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config openssl
  qt6-base-dev qt6-tools-dev libgl-dev fonts-dejavu-core
  libexpat1-dev libpugixml-dev libcurl4-openssl-dev nlohmann-json3-dev
  libcpp-httplib-dev libboost-dev libsqlite3-dev libcsv-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libsodium-dev openssl curl sqlite3 dpkg-dev
  libpq-dev postgresql pgbouncer
  prometheus-cpp-dev prometheus libfaketime
  qt6-l10n-tools qt6-translations-l10n
  at-spi2-core python3-pyatspi xvfb xauth dbus
)
# qt6-l10n-tools builds the translations (lrelease) and checks them (lupdate);
# qt6-translations-l10n brings Qt's own French for the standard buttons. at-spi2-core,
# python3-pyatspi, xvfb and dbus: the accessibility test drives eft-host as a screen reader
# would, under a virtual display with a session bus of its own.
# postgresql: the server programs (initdb, pg_ctl) for the tests' throwaway clusters; its
# postgres user is who runs them when the tests run as root, which PostgreSQL refuses.
# pgbouncer: the pooler the PostgreSQL half of the suite runs through as well, one the tests
# start on the loopback for themselves.
# prometheus-cpp-dev: the registry and text format of the server's metrics (its core library
# only); prometheus: the test that scrapes a real server, and promtool, which checks the text.
# libfaketime: bench/month moves its servers' clock through a simulated month.
# scripts/fuzz.sh builds with clang and libFuzzer; nothing else needs them.
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  clusters_before=$(pg_lsclusters -h 2>/dev/null | awk '{print $1 "/" $2}' || true)
  prometheus_before=$(dpkg-query -W -f='${Status}' prometheus 2>/dev/null || true)
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
  # Installing postgresql makes a cluster of its own on port 5432 and starts it at every boot.
  # The tests make throwaway clusters and never use it, so a cluster this install made goes.
  for cluster in $(pg_lsclusters -h 2>/dev/null | awk '{print $1 "/" $2}'); do
    if ! grep -qx "$cluster" <<<"$clusters_before"; then
      echo "Removing the PostgreSQL cluster $cluster that the install made (the tests do not use it)"
      $sudo_cmd pg_dropcluster --stop "${cluster%/*}" "${cluster#*/}"
    fi
  done
  # Installing pgbouncer starts Debian's own service on port 6432 and enables it at boot; the
  # tests start theirs on ports of their own, so that one is stopped and stays so.
  if [[ " ${missing[*]} " == *" pgbouncer "* ]]; then
    # systemctl disables even without systemd running (in a container); the stop is the init
    # script's there.
    $sudo_cmd service pgbouncer stop >/dev/null 2>&1 || true
    if command -v systemctl >/dev/null 2>&1; then
      $sudo_cmd systemctl disable pgbouncer.service >/dev/null 2>&1 || true
    fi
    $sudo_cmd update-rc.d pgbouncer disable >/dev/null 2>&1 || true
  fi
  # Installing prometheus starts its own service on port 9090, and the node exporter it
  # recommends one on 9100, and enables them at every boot. The tests start a Prometheus of
  # their own on a free port and never use them, so an install made here stops and disables
  # both (through systemd, or their init scripts where systemd does not run).
  if ! grep -q "install ok installed" <<<"$prometheus_before"; then
    for unit in prometheus prometheus-node-exporter; do
      $sudo_cmd systemctl disable --now "$unit" >/dev/null 2>&1 || true
      if [ -x "/etc/init.d/$unit" ]; then
        $sudo_cmd "/etc/init.d/$unit" stop >/dev/null 2>&1 || true
        $sudo_cmd update-rc.d "$unit" disable >/dev/null 2>&1 || true
      fi
    done
  fi
fi

# Node runs the independent bank-file readers the server tests use; a Node that came from
# elsewhere brings its own npm, so Debian's are installed only when npm is missing.
if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq nodejs npm
fi

# The readers themselves, pinned by tests/oracle's lockfile.
oracle_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/oracle"
if command -v npm >/dev/null 2>&1 && [ -f "$oracle_dir/package-lock.json" ]; then
  if [ ! -d "$oracle_dir/node_modules" ] || [ "$oracle_dir/package-lock.json" -nt "$oracle_dir/node_modules" ]; then
    (cd "$oracle_dir" && npm ci --no-audit --no-fund --loglevel=error && touch node_modules)
  fi
fi
