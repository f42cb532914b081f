#!/usr/bin/env bash
# Builds the Debian package of everything `cmake --install` puts in place
# (filters, PPDs, zplpreview, documents) and checks it with lintian:
#   bash tools/package.sh
# writes dist/zplfilter_<version>_<arch>.deb. Install it with
#   apt install ./dist/zplfilter_<version>_<arch>.deb
# The build folder is build-package (ZPL_BUILD_DIR to change it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZPL_BUILD_DIR:-build-package}

bash tools/deps.sh

# Debian's own compiler and linker flags, as dpkg-buildpackage would set
# them; build type None adds nothing to them. Every hardening option: the
# filters read whatever any user who may print sends them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$build" -j"$(nproc)"

rm -f "$build"/deb/*.deb
(cd "$build" && cpack -G DEB)
mkdir -p dist
deb=$(ls "$build"/deb/*.deb)
cp "$deb" dist/
deb=dist/$(basename "$deb")

# Errors fail the build; warnings are shown. Lintian frowns on root, which
# CI is; the check is the same.
echo "lintian $deb:"
lintian --fail-on error "$deb"
echo "Package: $deb"
