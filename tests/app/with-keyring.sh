#!/bin/sh
# Runs a test with a keyring of its own: a private session bus with an unlocked GNOME keyring on it (the Secret
# Service), kept in a temporary directory; both end with the test.
set -eu
if [ -n "${XDG_RUNTIME_DIR:-}" ]; then mkdir -p -m 0700 "$XDG_RUNTIME_DIR"; fi
exec dbus-run-session -- sh -c '
    data=$(mktemp -d)
    trap "rm -rf \"$data\"" EXIT
    export XDG_DATA_HOME="$data"
    eval "$(printf korvel-test | gnome-keyring-daemon --unlock --components=secrets)"
    KORVEL_TEST_KEYRING=1 "$@"
' sh "$@"
