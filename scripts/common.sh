# Shared by run.sh and test.sh: installs missing Debian packages and builds the program.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${ORVELA_BUILD_DIR:-$ROOT/build}
PACKAGES=(g++ make cmake pkgconf qtbase5-dev libqt5sql5-psql libssl-dev libpq-dev libfcgi-dev libgtest-dev postgresql lighttpd curl socat tzdata python3)

install_packages() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    # The server package must not start a cluster of its own on the default port.
    [ -e /usr/sbin/policy-rc.d ] || printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod +x /usr/sbin/policy-rc.d
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure() {
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

build() {
    cmake --build "$BUILD_DIR" --parallel "$(nproc)" "$@"
}
