#!/usr/bin/env bash
# Fails when the sources or the tests name a system file (a quoted absolute path under /usr,
# /etc, /opt, /lib, /bin, /sbin or /var/lib) that no package installed by
# scripts/install-deps.sh provides. A file that happens to be on this machine because someone
# installed it by hand would let the tests pass here and fail on a fresh machine.
#
#   scripts/check-system-paths.sh [FOLDER...]   check these folders (default: src tests)
#   scripts/check-system-paths.sh --self-test   prove that a planted path is caught
set -euo pipefail
cd "$(dirname "$0")/.."

# The packages the install script names, and everything they depend on: what a fresh machine
# has after it.
installed_closure() {
    local names
    names=$(sed -n '/^packages=(/,/^)/p' scripts/install-deps.sh | sed '1d;$d' | tr -s ' \t' '\n' |
        grep -v '^$')
    # shellcheck disable=SC2086
    apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances $names 2>/dev/null | grep -v '^ ' | sort -u
}

# Quoted absolute system paths in the files of the given folders, one per line. A path inside
# a URL (file:///etc/passwd, the bait of the reader's safety tests) is text, not a file the
# program opens, and is not quoted on its own.
named_paths() {
    grep -rhoE --include='*.cpp' --include='*.h' --include='*.sh' --include='*.py' \
        "[\"'](/(usr|etc|opt|lib|lib64|bin|sbin|var/lib)/[^\"' ]*)[\"']" "$@" 2>/dev/null |
        sed -E "s/^[\"'](.*)[\"']$/\1/" | sort -u
}

check() {
    local closure failures=0 path owners owner ok
    closure=$(installed_closure)
    while IFS= read -r path; do
        [ -n "$path" ] || continue
        owners=$(dpkg-query -S "${path%/}" 2>/dev/null | sed -E 's/: .*//' | tr ',' '\n' |
            sed -E 's/^ +//; s/:.*//' | sort -u || true)
        ok=0
        for owner in $owners; do
            # Essential packages are on every Debian system.
            if grep -qxF "$owner" <<<"$closure" ||
                [ "$(dpkg-query -W -f='${Essential}' "$owner" 2>/dev/null)" = yes ]; then
                ok=1
                break
            fi
        done
        if [ "$ok" -eq 0 ]; then
            if [ -z "$owners" ]; then
                echo "check-system-paths: $path is named in the sources but no installed package provides it" >&2
            else
                echo "check-system-paths: $path comes from $(echo $owners), which scripts/install-deps.sh does not install" >&2
            fi
            failures=$((failures + 1))
        fi
    done < <(named_paths "$@")
    [ "$failures" -eq 0 ]
}

if [ "${1:-}" = "--self-test" ]; then
    planted=$(mktemp -d)
    trap 'rm -rf "$planted"' EXIT
    printf 'const char* kFont = "/usr/share/sounds/sf2/NoSuchFont.sf2";\n' >"$planted/planted_test.cpp"
    if check "$planted" 2>/dev/null; then
        echo "check-system-paths: a planted path to a file no package provides was not caught" >&2
        exit 1
    fi
    printf 'const char* kFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";\n' >"$planted/planted_test.cpp"
    if ! check "$planted"; then
        echo "check-system-paths: a path the install script provides was refused" >&2
        exit 1
    fi
    echo "check-system-paths: self-test passed"
    exit 0
fi

if [ "$#" -eq 0 ]; then
    set -- src tests
fi
check "$@"
echo "check-system-paths: every system file named in $* comes from an installed package"
