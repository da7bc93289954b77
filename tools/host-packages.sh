#!/usr/bin/env bash
# Installs the named Debian packages that are missing, with one apt-get update
# first; does nothing when all are there. For the tools that need more than
# tools/setup.sh installs (tools/fuzz.sh).
#
#   tools/host-packages.sh PACKAGE...
set -euo pipefail
missing=()
for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -gt 0 ] || exit 0
command -v apt-get >/dev/null || {
    printf 'host-packages: no apt-get here; install the equivalents of these Debian packages: %s\n' "${missing[*]}" >&2
    exit 1
}
printf 'host-packages: installing %s\n' "${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get -q update >&2
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -q -y install --no-install-recommends "${missing[@]}" >&2
