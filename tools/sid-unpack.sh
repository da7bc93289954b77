#!/usr/bin/env bash
# Download Debian packages from the unstable suite, with their dependency
# closure as apt resolves it, and unpack them into a private root folder.
#
#   tools/sid-unpack.sh ROOT PACKAGE...
#
# The machine's own apt configuration, state and dpkg database are never
# touched: apt runs with a private sources list, private lists and cache
# folders, and an empty dpkg status, so it resolves the full closure (C
# library included) instead of trusting what the host has installed.
# The archive's address is read from the machine's own apt sources.
#
# PARVENKEL_APT_ARCH=arm64 (or another Debian architecture) takes the
# packages of that architecture instead of the machine's own, with apt state
# of its own (…/apt-arm64).
set -euo pipefail

root=${1:?usage: sid-unpack.sh ROOT PACKAGE...}
shift
[ $# -gt 0 ] || { echo "sid-unpack.sh: no packages named" >&2; exit 2; }

arch=${PARVENKEL_APT_ARCH:-}
state=${PARVENKEL_APT_STATE:-${XDG_CACHE_HOME:-$HOME/.cache}/parvenkel/apt${arch:+-$arch}}
debs="$state/debs/$(basename "$root")"
mkdir -p "$state/lists/partial" "$state/cache" "$debs/partial" "$root"

# The first plain Debian archive (not the security one) named in the host's
# sources, in either the deb822 or the one-line format.
archive_uri() {
    local f uri
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) print $i }' "$f" |
            grep -v -- '-security' | grep -E '/debian/?$' | head -n 1 || true)
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "$f" ] || continue
        uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' "$f" |
            grep -v -- '-security' | grep -E '/debian/?$' | head -n 1 || true)
        [ -n "$uri" ] && { echo "$uri"; return; }
    done
    echo "sid-unpack.sh: no Debian archive found in the apt sources" >&2
    return 1
}

uri=$(archive_uri)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
printf 'deb [signed-by=%s] %s sid main\n' "$keyring" "$uri" >"$state/sources.list"
: >"$state/status"

apt_opts=(
    -o "Dir::Etc::SourceList=$state/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$state/lists"
    -o "Dir::Cache=$state/cache"
    -o "Dir::Cache::archives=$debs"
    -o "Dir::State::status=$state/status"
    -o APT::Install-Recommends=0
    -o Debug::NoLocking=1
    -o APT::Sandbox::User=root
    -o APT::Get::List-Cleanup=0
)
[ -z "$arch" ] || apt_opts+=(-o "APT::Architecture=$arch" -o "APT::Architectures=$arch")

# One update per day is plenty; a second run reuses the lists.
if [ -z "$(find "$state/lists" -maxdepth 1 -name '*Packages*' -mmin -1440 2>/dev/null | head -n 1)" ]; then
    apt-get "${apt_opts[@]}" -q update >&2
fi
apt-get "${apt_opts[@]}" -q -y install --download-only "$@" >&2

for deb in "$debs"/*.deb; do
    dpkg -x "$deb" "$root"
done
