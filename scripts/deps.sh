#!/usr/bin/env bash
# Installs the Debian packages of the lists named (run, test, bench); quiet when all
# are there. Needs root (apt-get).
#   run:   what builds and runs the program
#   test:  the run list, the test framework, the tests' real peers and the fuzz build
#   bench: what the benchmarks measure against (bench/), besides the test list
set -euo pipefail

run=(
	# build
	cmake g++ make
	# OpenGL: EGL on Mesa, headless or in an X11 window
	libegl-dev libgl-dev libgl1-mesa-dri libegl-mesa0 libx11-dev
	# images: libpng and libsquish
	libpng-dev libsquish-dev
	# archives: minizip over zlib, libarchive for 7z
	libminizip-dev zlib1g-dev libarchive-dev
	# the artwork generator of the built-in images draws its letters with FreeType in DejaVu Sans
	libfreetype-dev fonts-dejavu-core
)
test=(
	"${run[@]}"
	googletest libgtest-dev libgmock-dev
	# the image tests make and check files with ImageMagick, pngcheck and PIL
	imagemagick pngcheck python3-pil
	# drawing: GLU and GLM stand as matrix oracles of the camera tests
	libglu1-mesa-dev libglm-dev
	# X11 window tests run under Xvfb
	xvfb
	# file tests: objdump reads PE headers, the bundle loader opens libGL
	binutils libgl1
	# network tests: real servers the tests start inside private network namespaces
	nginx-light tinyproxy-bin socat curl
	# archive tests: Info-ZIP, 7-Zip, bsdtar, python3 zipfile
	zip unzip 7zip p7zip-full libarchive-tools python3
	# stack crawl tests compare with addr2line on objcopy/strip copies; the memory report with ps
	procps
	# fuzz targets (fuzz/, -DZUZ_FUZZ=ON): clang 14 and its libFuzzer and sanitizer runtimes
	clang-14 libclang-rt-14-dev
)
bench=(
	# peers side by side beyond the test list's; the allocator's are swapped in by LD_PRELOAD
	openssl wget libjemalloc2 libtcmalloc-minimal4 libmimalloc2.0
)

(($#)) || set -- test
packages=()
for list in "$@"; do
	case $list in
	run) packages+=("${run[@]}") ;;
	test) packages+=("${test[@]}") ;;
	bench) packages+=("${bench[@]}") ;;
	*) echo "usage: $0 [run|test|bench]..." >&2 && exit 2 ;;
	esac
done

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
