#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quiet when all are there.
# Needs root (apt-get). Each subsystem adds the packages it needs to its list.
set -euo pipefail

packages=(
	# build
	cmake g++ make pkg-config
	# tests
	googletest libgtest-dev libgmock-dev
	# drawing: OpenGL and EGL headers, Mesa's software renderer
	libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0
)

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
	echo "Installing: ${missing[*]}"
	export DEBIAN_FRONTEND=noninteractive
	apt-get update -qq
	apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
