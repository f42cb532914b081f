#!/usr/bin/env bash
# The package upgrade as a CUPS administrator meets it: a queue made with
# the previous version (1.0.0), its defaults chosen, then this version
# installed over it with apt while cupsd runs. CUPS's trigger must give the
# queue the new PPD with the media options and keep the chosen defaults, and
# the package must restart the running cupsd. The upgraded queue then
# prints a media option.
#
#   package_upgrade.sh <new .deb> <1.0.0 driver source> <ppdc> <sample PDF>
#
# The previous package is this package with 1.0.0's PPDs (compiled from its
# driver source), version and maintainer scripts: the upgrade path depends
# on nothing else of it, and building 1.0.0 itself would cost a full build.
# cupsd runs in a private mount namespace with its own copies of /etc/cups
# and CUPS's run, spool, cache and log folders, on its local socket only,
# so the machine's scheduler and queues are never touched. Exits 77 where
# it can't run (not root, no mount namespace, zplfilter already installed):
# a skip locally, a failure where every test must run.
set -euo pipefail

new_deb=$(realpath "$1") old_drv=$(realpath "$2") ppdc=$3 sample_pdf=$(realpath "$4")
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "installs the package system-wide: root only"
probe=$(mktemp -d)
unshare -m --propagation private sh -c "mount -t tmpfs tmpfs '$probe'" 2>/dev/null ||
  { rmdir "$probe"; skip "no private mount namespace here (unshare -m)"; }
rmdir "$probe"
if dpkg-query -W -f='${Status}' zplfilter 2>/dev/null | grep -q "ok installed"; then
  skip "zplfilter is installed on this machine; the test would replace and then remove it"
fi
if [ "${ZPL_UPGRADE_INSIDE:-}" != 1 ]; then
  while read -r path; do
    [ -d "$path" ] || [ ! -e "$path" ] || skip "$path exists and belongs to no zplfilter package"
  done < <(dpkg-deb -c "$new_deb" | awk '{print substr($6, 2)}')
fi

apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"
}

# --- outside the namespace: the previous package, then the namespace -------
if [ "${ZPL_UPGRADE_INSIDE:-}" != 1 ]; then
  work=$(mktemp -d /tmp/zpl-upgrade.XXXXXX)
  chmod 755 "$work"
  trap 'rm -rf "$work"' EXIT
  old=$work/old
  dpkg-deb -R "$new_deb" "$old"
  rm -f "$old/DEBIAN/postinst" "$old"/usr/share/cups/ppd-updaters/zplfilter.ppd-updater
  rmdir --ignore-fail-on-non-empty "$old/usr/share/cups/ppd-updaters"
  "$ppdc" -d "$old/usr/share/ppd/zplfilter" "$old_drv"
  grep -q '^\*OpenUI \*PrintMode' "$old/usr/share/ppd/zplfilter/zplfilter-300.ppd" &&
    fail "the 1.0.0 driver source already has PrintMode"
  sed -i 's/^Version: .*/Version: 1.0.0/' "$old/DEBIAN/control"
  (cd "$old" && find usr -type f -exec md5sum {} + > DEBIAN/md5sums)
  dpkg-deb --root-owner-group -b "$old" "$work/zplfilter_1.0.0.deb" >/dev/null
  rm -rf "$old"

  # A purge whatever happens, so that a failed run leaves the machine as it
  # found it.
  status=0
  ZPL_UPGRADE_INSIDE=1 ZPL_UPGRADE_WORK=$work unshare -m --propagation private \
    "$0" "$new_deb" "$old_drv" "$ppdc" "$sample_pdf" || status=$?
  if dpkg-query -W -f='${Status}' zplfilter 2>/dev/null | grep -q "ok installed"; then
    apt_get purge zplfilter >/dev/null
    [ "$status" -ne 0 ] || fail "the package was left installed"
  fi
  exit "$status"
fi

# --- inside the namespace ------------------------------------------------------
work=$ZPL_UPGRADE_WORK

# Private copies of CUPS's state; systemd hidden, so that invoke-rc.d uses
# the init script on this cupsd; a policy that lets packages restart it.
for dir in /etc/cups /run/cups /var/cache/cups /var/spool/cups /var/log/cups; do
  copy=$work/root$dir
  mkdir -p "$copy"
  [ -d "$dir" ] && cp -a "$dir/." "$copy/"
  mkdir -p "$dir"
  mount --bind "$copy" "$dir"
done
[ -d /run/systemd ] && mount -t tmpfs tmpfs /run/systemd
mkdir -p "$work/sbin-upper" "$work/sbin-work"
mount -t overlay overlay -o "lowerdir=/usr/sbin,upperdir=$work/sbin-upper,workdir=$work/sbin-work" /usr/sbin ||
  skip "no overlay file system to put a policy-rc.d in"
printf '#!/bin/sh\nexit 0\n' > /usr/sbin/policy-rc.d
chmod 755 /usr/sbin/policy-rc.d
sed -i -E '/^(Listen [^/]|Port )/d' /etc/cups/cupsd.conf
grep -q '^Listen /run/cups/cups.sock' /etc/cups/cupsd.conf || echo "Listen /run/cups/cups.sock" >> /etc/cups/cupsd.conf
sed -i '/^FileDevice/d' /etc/cups/cups-files.conf
echo "FileDevice Yes" >> /etc/cups/cups-files.conf
rm -f /etc/cups/printers.conf /etc/cups/ppd/*.ppd

cupsd_pid() { cat /run/cups/cupsd.pid 2>/dev/null || true; }
server=/run/cups/cups.sock
stop_cupsd() { [ -z "$(cupsd_pid)" ] || kill "$(cupsd_pid)" 2>/dev/null || true; }
trap stop_cupsd EXIT

/usr/sbin/cupsd
for _ in $(seq 100); do lpstat -h "$server" -r >/dev/null 2>&1 && break; sleep 0.1; done
lpstat -h "$server" -r | grep -qv not || fail "cupsd did not start"

apt_get install --no-install-recommends "$work/zplfilter_1.0.0.deb" >/dev/null
out=$work/out
mkdir -p "$out"
chmod 777 "$out"
ppd_name=lsb/usr/zplfilter/zplfilter-300.ppd
lpadmin -h "$server" -p labels -E -v "file://$out/labels.zpl" -m "$ppd_name" \
  -o Darkness=22 -o Halftone=Photo -o PageSize=4.00x3.00in
queue_ppd=/etc/cups/ppd/labels.ppd
grep -q '^\*DefaultDarkness: 22' "$queue_ppd" || fail "lpadmin did not set the queue's Darkness"
grep -q '^\*OpenUI \*PrintMode' "$queue_ppd" && fail "the 1.0.0 queue already offers PrintMode"
before=$(cupsd_pid)

log=$work/upgrade.log
apt_get install --no-install-recommends "$new_deb" > "$log" 2>&1 || { cat "$log"; fail "the upgrade failed"; }
[ "$(dpkg-query -W -f='${Version}' zplfilter)" != 1.0.0 ] || fail "still 1.0.0"
for _ in $(seq 100); do lpstat -h "$server" -r >/dev/null 2>&1 && break; sleep 0.1; done

after=$(cupsd_pid)
[ -n "$after" ] && [ "$after" != "$before" ] || { cat "$log"; fail "cupsd was not restarted ($before, $after)"; }
grep -q "PPD for printer labels updated" "$log" || { cat "$log"; fail "CUPS's trigger did not update the queue"; }

# The new options, at their defaults, beside the defaults chosen before.
for option in PrintMode MediaTracking MediaType TearOffset; do
  grep -q "^\*OpenUI \*$option/" "$queue_ppd" || fail "the upgraded queue's PPD does not offer $option"
done
for expected in '*DefaultPrintMode: TearOff' '*DefaultMediaTracking: PrinterDefault' \
  '*DefaultMediaType: PrinterDefault' '*DefaultTearOffset: PrinterDefault' '*DefaultDarkness: 22' \
  '*DefaultHalftone: Photo' '*DefaultPageSize: 4.00x3.00in'; do
  grep -qxF "$expected" "$queue_ppd" || fail "the upgraded queue's PPD lacks '$expected'"
done

# The queue prints a media option of the new PPD.
job=$(lp -h "$server" -d labels -o PrintMode=Cutter -o MediaTracking=Continuous "$sample_pdf" |
  sed -E 's/.*request id is ([^ ]+).*/\1/')
for _ in $(seq 600); do
  lpstat -h "$server" -W completed -o labels | grep -q "^$job " && break
  sleep 0.1
done
grep -aq '\^XA\^MNN\^LH0,0\^MMC\^PW1203' "$out/labels.zpl" || fail "the upgraded queue's label lacks ^MNN and ^MMC"
grep -aq '~SD22' "$out/labels.zpl" || fail "the upgraded queue's label lost Darkness 22"

apt_get purge zplfilter >/dev/null
echo "upgrade from 1.0.0 kept the queue's defaults and added the media options"
