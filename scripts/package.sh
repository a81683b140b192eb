#!/usr/bin/env bash
# Builds the Debian package of the program and checks it with lintian.
#
#   scripts/package.sh [--version VERSION] [--out DIR]
#
# The sources are copied to DIR/src (default build/package) and built there with
# dpkg-buildpackage; a later run reuses that folder's compiled objects, so a second package
# (say, with another version for an upgrade) only compiles what changed. --version adds a
# changelog entry of that version to the copy. The .deb is left in DIR.
source "$(dirname "$0")/common.sh"

usage() { sed -n '2,9s/^# \{0,1\}//p' "$0"; }

version=""
out="$BUILD_DIR/package"
while [ $# -gt 0 ]; do
    case "$1" in
        --version) version=${2:?--version needs a value}; shift 2 ;;
        --out) out=${2:?--out needs a folder}; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "package.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done

PACKAGES=(debhelper dpkg-dev lintian cmake pkgconf qtbase5-dev libssl-dev libpq-dev libfcgi-dev g++ make)
install_packages

src="$out/src"
mkdir -p "$src"
# The tracked and new files as they are now; unchanged files keep their times, so make
# rebuilds only what changed since the last package.
git -C "$ROOT" ls-files -z --cached --others --exclude-standard |
    grep -zv '^build/' | tar -C "$ROOT" --null -T - -cf - | tar -C "$src" -xf -
if [ -n "$version" ]; then
    entry=$(printf 'orvela (%s) unstable; urgency=medium\n\n  * Build %s.\n\n -- Brenna Ltd. <packages@brenna.example>  %s\n\n' \
        "$version" "$version" "$(date -R)")
    printf '%s\n' "$entry" | cat - "$src/debian/changelog" > "$src/debian/changelog.new"
    mv "$src/debian/changelog.new" "$src/debian/changelog"
fi
# debhelper would take a finished build for this one: the configure step must see the version.
rm -f "$src/debian/debhelper-build-stamp" "$src"/debian/*.debhelper.log
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" dpkg-buildpackage -b -us -uc -nc >"$out/build.log" 2>&1) || {
    tail -n 40 "$out/build.log" >&2
    exit 1
}
full_version=$(cd "$src" && dpkg-parsechangelog -S Version)
deb="$out/orvela_${full_version}_$(dpkg --print-architecture).deb"
# Errors fail the build; the warnings left are listed in the README.
lintian --fail-on error --suppress-tags-from-file "$src/debian/lintian-accepted" "$deb" | tee "$out/lintian.txt" >&2 || {
    echo "package.sh: lintian found errors in $deb" >&2
    exit 1
}
echo "$deb"
