#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quiet when all are there.
# Needs root (apt-get). Each subsystem adds the packages it needs to its list.
set -euo pipefail

packages=(
	# build
	cmake g++ make pkg-config
	# OpenGL: EGL on Mesa, headless or in an X11 window
	libegl-dev libgl-dev libgl1-mesa-dri libegl-mesa0 libx11-dev
	# tests
	googletest libgtest-dev libgmock-dev
	# images: libpng and libsquish; the image tests make and check files with ImageMagick, pngcheck and PIL
	libpng-dev libsquish-dev imagemagick pngcheck python3-pil

	# the artwork generator of the built-in images draws its letters with FreeType in DejaVu Sans
	libfreetype-dev fonts-dejavu-core

	# drawing: GLU and GLM stand as matrix oracles of the camera tests
	libglu1-mesa-dev libglm-dev

	# X11 window tests run under Xvfb
	xvfb
	# file tests: objdump reads PE headers, the bundle loader opens libGL
	binutils libgl1
	# network tests: real servers the tests start inside private network namespaces
	nginx-light tinyproxy-bin socat curl
	# archives: minizip over zlib, libarchive for 7z, 7-Zip for "7za"
	libminizip-dev zlib1g-dev libarchive-dev 7zip p7zip-full
	# archive tests: Info-ZIP, bsdtar, python3 zipfile
	zip unzip libarchive-tools python3
	# stack crawl tests compare with addr2line on objcopy/strip copies; the memory report with ps
	procps
	# fuzz targets (fuzz/, -DZUZ_FUZZ=ON): clang 14 and its libFuzzer and sanitizer runtimes
	clang-14 libclang-rt-14-dev
	# benchmarks (bench/, -DZUZ_BENCHMARKS=ON): peers side by side; the allocator's are swapped in by LD_PRELOAD
	openssl wget libjemalloc2 libtcmalloc-minimal4 libmimalloc2.0 valgrind
)

missing=()
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
	echo "Installing: ${missing[*]}"
	export DEBIAN_FRONTEND=noninteractive
	apt-get update -qq
	# The servers are started by the tests only: the packages' own services stay off.
	if [[ ! -e /usr/sbin/policy-rc.d ]]; then
		trap 'rm -f /usr/sbin/policy-rc.d' EXIT
		printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
		chmod 755 /usr/sbin/policy-rc.d
	fi
	apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
