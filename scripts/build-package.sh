#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as Debian builds one, with dpkg-buildpackage, from
# a copy of the project's files in DIR/merlow-VERSION: the .deb, its .changes
# and .buildinfo land in DIR (dpkg-buildpackage writes beside the source
# tree), and nothing is written outside DIR. Extra dpkg-buildpackage options
# follow DIR.
set -euo pipefail

out=$(realpath -m "$1")
shift
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
tree="$out/merlow-$version"

mkdir -p "$out"
rm -rf "$tree" "$out"/merlow_"$version"_* "$out"/merlow-dbgsym_"$version"_*
mkdir "$tree"
# The files git tracks or would, as they are in the working tree.
git -C "$top" ls-files -z --cached --others --exclude-standard | (cd "$top" && xargs -0 cp --parents -t "$tree")
cd "$tree"
dpkg-buildpackage -us -uc -b "$@"
