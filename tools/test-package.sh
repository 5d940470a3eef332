#!/usr/bin/env bash
# Tests the Debian packages as a studio installs them: builds korvel-control and korvel-control-emulated with
# cpack, checks them with lintian and the desktop and AppStream validators, installs them with apt-get, starts
# each installed program offscreen with no console attached and asks it over a real WebSocket, then purges both
# and checks that nothing of theirs is left. Run as root on Debian 12: it installs into the system.
# The packages stay in build-package/ (or $KORVEL_PACKAGE_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KORVEL_PACKAGE_BUILD_DIR:-$root/build-package}
jobs=${JOBS:-$(nproc)}
packages=(korvel-control korvel-control-emulated)
work=$(mktemp -d)
installed=0
cleanup() {
    # A failed run does not leave the packages on the machine.
    if ((installed)); then apt-get purge -y -q "${packages[@]}" >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "test-package: $*" >&2
    exit 1
}

echo "== packages: build"
# Debian's own compiler and linker flags (hardening included), as a Debian build would use them.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DKORVEL_BUILD_TESTS=OFF
cmake --build "$build" -j "$jobs"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
debs=()
for package in "${packages[@]}"; do
    deb=$(compgen -G "$build/${package}_*.deb") || fail "cpack made no $package package"
    debs+=("$deb")
    echo "-- $(basename "$deb")"
    dpkg-deb --field "$deb" Version Depends
    dpkg-deb --contents "$deb"
done

echo "== packages: lintian"
lintian --fail-on error "${debs[@]}"

echo "== packages: install"
# A run stopped half-way may have left them installed.
apt-get purge -y -q "${packages[@]}" >/dev/null 2>&1 || true
# Which of the packages' paths exist before: shared folders such as /usr/bin stay after the purge, rightly.
for deb in "${debs[@]}"; do
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$'
done | sort -u >"$work/paths"
while read -r path; do
    if [ -e "$path" ]; then echo "$path"; fi
done <"$work/paths" >"$work/existing-before"
installed=1
apt-get install -y -q "${debs[@]}" </dev/null
dpkg -L "${packages[@]}" | sort -u >"$work/installed"

desktop-file-validate /usr/share/applications/korvel-control.desktop /usr/share/applications/korvel-control-emulated.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.velmora.KorvelControl.metainfo.xml

# The installed manual pages render without a warning from groff, and the application's names its menu entries.
for package in "${packages[@]}"; do
    page=/usr/share/man/man1/$package.1.gz
    warnings=$(MANWIDTH=100 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
    [ -z "$warnings" ] || fail "man warns on $page: $warnings"
done
rendered=$(MANWIDTH=100 man -l /usr/share/man/man1/korvel-control.1.gz 2>/dev/null)
for entry in "Start at login" "Network access" "Ctrl+Shift+N" "Ctrl+Shift+M" "Ctrl+Q" "MQTT"; do
    grep -qF "$entry" <<<"$rendered" || fail "the manual page does not render \"$entry\""
done

# The WebSocket client: one command, and the refusal the server owes it while no console is attached, byte for
# byte (indented JSON, keys in order, a line feed at the end).
read -r -d '' client <<'PY' || true
import asyncio, json, sys, time
import websockets

EXPECTED = '{\n    "data": "Device USB not connected!",\n    "msg": "error"\n}\n'

async def main():
    deadline = time.monotonic() + 60
    while True:
        try:
            socket = await websockets.connect("ws://127.0.0.1:19552/")
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("no WebSocket server on port 19552")
            await asyncio.sleep(0.2)
    try:
        await socket.send(json.dumps({"msg": "get_api_version", "data": None}))
        reply = await asyncio.wait_for(socket.recv(), 10)
    finally:
        await socket.close()
    if reply != EXPECTED:
        sys.exit("unexpected reply: " + repr(reply))

asyncio.run(main())
PY

# Starts an installed program in a network namespace of its own (its default ports are then free whatever else
# runs on this machine), with a fresh user's settings and no console, and expects the byte-exact refusal of a
# command. The program must still be running afterwards.
answers_not_connected() {
    local program=$1 home
    home=$(mktemp -d -p "$work")
    mkdir -m 700 "$home/runtime"
    echo "-- $program answers with no console attached"
    timeout 120 unshare --net env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" \
        XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
        KORVEL_EMULATOR_ABSENT=1 KORVEL_EMULATOR_PANEL=0 \
        bash -c '
            ip link set lo up
            "$1" >"$2/log" 2>&1 &
            app=$!
            python3 -c "$3"
            status=$?
            kill -0 "$app" 2>/dev/null || { echo "the program ended by itself"; status=1; }
            kill "$app" 2>/dev/null
            wait "$app"
            exit $status
        ' _ "/usr/bin/$program" "$home" "$client" || {
        cat "$home/log"
        fail "$program did not answer as expected"
    }
}
answers_not_connected korvel-control-emulated
answers_not_connected korvel-control

echo "== packages: purge"
apt-get purge -y -q "${packages[@]}" </dev/null
installed=0
for package in "${packages[@]}"; do
    if dpkg-query -W -f '${db:Status-Status}' "$package" 2>/dev/null | grep -qv '^not-installed$'; then
        fail "$package is still known to dpkg after the purge"
    fi
done
left=()
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        grep -qxF "$path" "$work/existing-before" || left+=("$path")
    fi
done <"$work/installed"
if ((${#left[@]})); then
    printf 'left behind: %s\n' "${left[@]}" >&2
    fail "the purge left files of the packages"
fi
echo "packages built, checked, installed, answered and purged without a trace"
