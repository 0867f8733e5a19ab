#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt. Idempotent: packages that are
# already installed are skipped, and apt is not touched at all when nothing is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$here/packages.txt" | grep -v '^$')

# A package counts as present when it is installed or an installed package provides it (a
# nodejs build that bundles npm provides "npm" and conflicts with the separate package).
provided=$(dpkg-query -W -f='${db:Status-Abbrev} ${Provides}\n' 2>/dev/null | awk '/^ii/ { $1 = ""; print }' | tr ',' '\n' |
  sed -e 's/([^)]*)//g' -e 's/[[:space:]]//g' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' &&
     ! grep -qx -- "$pkg" <<<"$provided"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
