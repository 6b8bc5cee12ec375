#!/bin/sh
# Test users for the tests that reach root through sudo (ctest fixture kv_testuser).
#   setup STATE:   make the users and record their passwords in STATE (readable by root only)
#   cleanup STATE: let go of them; the last holder removes the users, their sudoers rules and STATE
# Users: kvtest (group sudo, password), kvtestout (no sudo rights, password),
#        kvtestnp (a NOPASSWD rule).
# Several test runs (other build trees) may use the users at once: each run holds a token named
# after its ctest process; users are made anew only when no living run holds them, so the
# leftovers of a crashed run are removed at the next setup.
set -u
action=$1
state=$2
users="kvtest kvtestout kvtestnp"
holder=$PPID

if [ "$(id -u)" != 0 ]; then
    echo "not root: no test users (the tests that need them skip)"
    exit 0
fi

remove_all() {
    for u in $users; do
        if id "$u" >/dev/null 2>&1; then
            userdel -f "$u" >/dev/null 2>&1 || true
        fi
        rm -f "/etc/sudoers.d/$u"
    done
    rm -rf "$state"
}

prune_holders() {
    [ -d "$state/holders" ] || return 0
    for t in "$state/holders"/*; do
        [ -e "$t" ] || continue
        p=${t##*/}
        if ! kill -0 "$p" 2>/dev/null; then
            rm -f "$t"
        fi
    done
}

holders_left() {
    [ -d "$state/holders" ] && [ -n "$(ls -A "$state/holders" 2>/dev/null)" ]
}

make_all() {
    mkdir -p "$state/home" "$state/holders" || return 1
    chmod 0755 "$state" "$state/home"
    chmod 0700 "$state/holders"
    for u in $users; do
        groups=
        [ "$u" = kvtest ] && groups="-G sudo"
        # shellcheck disable=SC2086
        useradd -M -d "$state/home/$u" -s /bin/sh $groups "$u" || return 1
        mkdir -p "$state/home/$u" && chown "$u:" "$state/home/$u" && chmod 0700 "$state/home/$u"
        pw=$(head -c 48 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20)
        printf '%s:%s\n' "$u" "$pw" | chpasswd || return 1
        (umask 077 && printf '%s\n' "$pw" > "$state/$u.password")
        printf 'Defaults:%s lecture=never\n' "$u" > "/etc/sudoers.d/$u"
    done
    printf 'kvtestnp ALL=(ALL:ALL) NOPASSWD: ALL\n' >> /etc/sudoers.d/kvtestnp
    chmod 0440 /etc/sudoers.d/kvtest /etc/sudoers.d/kvtestout /etc/sudoers.d/kvtestnp
    visudo -c >/dev/null || { echo "sudoers check failed"; return 1; }
}

exec 9>"/tmp/kvtest-state.lock"
flock -w 300 9 || { echo "cannot lock the test users"; exit 1; }

case "$action" in
setup)
    prune_holders
    if ! holders_left || ! id kvtest >/dev/null 2>&1; then
        remove_all
        make_all || { remove_all; exit 1; }
    fi
    : > "$state/holders/$holder"
    echo "test users ready in $state"
    exit 0
    ;;
cleanup)
    rm -f "$state/holders/$holder"
    prune_holders
    holders_left || remove_all
    exit 0
    ;;
esac
echo "usage: $0 setup|cleanup STATE" >&2
exit 2
