#!/usr/bin/env bash
# Builds the Debian package (package preset: release, installed under /usr, no test-only parts)
# and checks it: lintian without errors, the desktop entry and the AppStream metadata valid, and
# the files a user needs in it. The .deb is left in build/package/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -f build/package/*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/h8-controller_*.deb)
echo "package: $deb"

status=0
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || status=1
desktop-file-validate packaging/desktop/org.h8controller.H8Controller.desktop || status=1
appstreamcli validate --no-net packaging/desktop/org.h8controller.H8Controller.metainfo.xml || status=1
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/h8-controller ./usr/bin/h8ctl ./usr/libexec/h8-controller/H8LaunchHelper \
    ./lib/udev/rules.d/70-h8-controller.rules \
    ./usr/share/applications/org.h8controller.H8Controller.desktop \
    ./usr/share/metainfo/org.h8controller.H8Controller.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/org.h8controller.H8Controller.svg \
    ./usr/share/icons/hicolor/48x48/apps/org.h8controller.H8Controller.png \
    ./usr/share/man/man1/h8ctl.1.gz ./usr/share/man/man1/h8-controller.1.gz \
    ./usr/share/bash-completion/completions/h8ctl ./usr/share/doc/h8-controller/copyright; do
    if ! grep -qxF "$path" <<<"$contents"; then
        echo "package: $path is missing" >&2
        status=1
    fi
done
# Nothing of the test world goes into the package.
if grep -E 'umockdev|harness|bench|gallery|-shot' <<<"$contents"; then
    echo "package: test-only files in the package" >&2
    status=1
fi
dpkg-deb -f "$deb" Depends
exit $status
