#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the local mail servers need
# (clang-14 and its runtime libraries for the fuzz targets; the sanitizer build uses gcc,
# whose libasan and libubsan come with build-essential).
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libssl-dev
  openssl python3 curl procps
  libfuse3-dev fuse3 rsync
  dovecot-core dovecot-imapd dovecot-pop3d dovecot-lmtpd postfix
  qt6-base-dev libqt6svg6 xvfb xauth xdotool x11-utils imagemagick
  fonts-dejavu-core hicolor-icon-theme adwaita-icon-theme
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Postfix asks how to configure itself unless told: we run it from our own config dir.
echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
echo "postfix postfix/mailname string localhost" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The packages start system daemons on their default ports; our servers use their own
# configuration and ports, so the system instances are not needed.
for svc in postfix dovecot; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$svc" 2>/dev/null; then
    $SUDO systemctl stop "$svc" || true
  fi
done
