#!/usr/bin/env bash
# Rehearses a new user on a fresh machine: a clean Debian bookworm amd64 root made with
# mmdebstrap, a clean clone of this repository's committed HEAD inside it, and the
# README's two commands run there as root, one after the other, each timed. Not part
# of the tests (it takes a quarter of an hour and downloads about a gigabyte).
#   FRESH_ROOT  where the throwaway root goes (default /var/tmp/cinemorph-fresh)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
fresh="${FRESH_ROOT:-/var/tmp/cinemorph-fresh}"
mirror="http://deb.debian.org"

# The README's first code block holds the two commands.
mapfile -t commands < <(awk '/^```/ { if (seen++) exit; next } seen && /^\.\/run / { sub(/ *#.*/, ""); print }' "$repo/README.md")
((${#commands[@]} == 2)) || { echo "expected two commands in README.md, found ${#commands[@]}" >&2; exit 1; }

echo "making a clean bookworm root in $fresh"
rm -rf "$fresh"
start=$(date +%s)
mmdebstrap --quiet --variant=apt --include=ca-certificates,git bookworm "$fresh" \
  "deb $mirror/debian bookworm main" "deb $mirror/debian bookworm-updates main" \
  "deb $mirror/debian-security bookworm-security main"
cp /etc/resolv.conf "$fresh/etc/resolv.conf"
git clone --quiet --no-local "$repo" "$fresh/root/cinemorph"
echo "root ready in $(( $(date +%s) - start )) s; commit $(git -C "$repo" rev-parse --short HEAD)"

results=()
for command in "${commands[@]}"; do
  echo "=== $command"
  start=$(date +%s)
  status=0
  unshare --mount --propagation private /bin/bash -c '
    set -e
    # The root is a mount point of its own, as on a real machine.
    mount --bind "$1" "$1"
    mount -t proc proc "$1/proc"
    mount --rbind /dev "$1/dev"
    mount --rbind /sys "$1/sys"
    mount -t tmpfs tmpfs "$1/tmp"
    exec chroot "$1" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      /bin/bash -c "cd /root/cinemorph && $2"' fresh "$fresh" "$command" || status=$?
  results+=("$command: exit $status after $(( $(date +%s) - start )) s")
done
echo "=== fresh machine, commit $(git -C "$repo" rev-parse --short HEAD)"
printf '%s\n' "${results[@]}"
[[ "${results[*]}" != *"exit "[1-9]* ]]
