#!/usr/bin/env bash
# Makes the i386 Debian root that 32-bit Wine runs from, or reuses it: the host's own
# Wine is 64-bit only, and its i386 packages cannot be installed beside it. Prints the
# root's path. Each package list has a root of its own, so checkouts whose lists differ
# never remake the root another one is running Wine from.
#   CINE_WINE32_ROOT  where the root lives (default /var/cache/cinemorph/wine32-root-HASH)
set -euo pipefail
packages="wine,wine32"
# The security suite's i386 index is often out of step with its packages; the main
# suite alone makes a consistent root.
mirror="http://deb.debian.org/debian"
stamp="bookworm $packages $mirror"
hash="$(printf '%s' "$stamp" | sha256sum | cut -c1-12)"
root="${CINE_WINE32_ROOT:-/var/cache/cinemorph/wine32-root-$hash}"

# Two runs that need the same root at once: the second waits for the first to make it.
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9
if [[ -f "$root/.cinemorph-stamp" && "$(cat "$root/.cinemorph-stamp")" == "$stamp" ]]; then
  echo "$root"
  exit 0
fi
command -v mmdebstrap >/dev/null || {
  echo "installing: mmdebstrap" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    mmdebstrap >/dev/null
}
echo "making the i386 root for 32-bit Wine in $root (about a minute)" >&2
rm -rf "$root.new"
mmdebstrap --quiet --variant=apt --architectures=i386 --include="$packages" bookworm \
  "$root.new" "deb $mirror bookworm main" "deb $mirror bookworm-updates main" >&2
echo "$stamp" >"$root.new/.cinemorph-stamp"
rm -rf "$root"
mv "$root.new" "$root"
echo "$root"
