#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 system (a debootstrap chroot), runs the
# installed programs on the emulated H8 from their installed paths, removes the package and
# shows that nothing of it is left. Needs root and Debian's mirror; takes several minutes.
#
#   scripts/check-package.sh [DEB]     (default: builds it with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then echo "check-package: run as root (debootstrap, chroot)" >&2; exit 1; fi
deb=${1:-}
if [ -z "$deb" ]; then
    scripts/package.sh >/dev/null
    deb=$(ls build/package/h8-controller_*.deb)
fi
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap
mirror=${H8_DEBIAN_MIRROR:-http://deb.debian.org/debian}

root=$(mktemp -d /var/tmp/h8-chroot.XXXXXX)
cleanup() {
    for m in proc dev/pts dev sys; do umount -l "$root/$m" 2>/dev/null || true; done
    rm -rf "$root"
}
trap cleanup EXIT
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== debootstrap bookworm into $root"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || { tail -20 "$root.log"; exit 1; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t sysfs sys "$root/sys"

echo "== install $(basename "$deb") with its dependencies"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null
in_root dpkg -L h8-controller | grep -E 'bin/|libexec/|rules.d/|applications/|metainfo/'

echo "== h8ctl --simulate status (installed)"
in_root /usr/bin/h8ctl --simulate=/tmp/h8.json status
echo "== h8-controller --simulate, offscreen, 3 s (installed)"
in_root env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=/tmp/cfg XDG_STATE_HOME=/tmp/state \
    /usr/bin/h8-controller --simulate=/tmp/h8.json --quit-after-ms 3000 >"$root/tmp/h8-panel.log" 2>&1
echo "exit $?; $(grep -c . "$root/tmp/h8-panel.log") lines of output; login items: $(ls "$root/tmp/cfg/autostart" 2>/dev/null | wc -l)"

echo "== remove (purge)"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq h8-controller >/dev/null
in_root env DEBIAN_FRONTEND=noninteractive apt-get autoremove --purge -y -qq >/dev/null
left=$(in_root find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /var \) -prune -o -print |
    grep -iE 'h8-controller|h8ctl|H8LaunchHelper|h8controller|70-h8' || true)
if [ -n "$left" ]; then
    echo "left behind:" >&2
    echo "$left" >&2
    exit 1
fi
echo "nothing of h8-controller is left"
