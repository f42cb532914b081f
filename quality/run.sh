#!/usr/bin/env bash
# One command for the print-quality comparison:
#   bash quality/run.sh [--dpi 203|300|600] [--pages barcodes|grey] [--filters DIR]
# Installs the suite's own tools when they are missing, builds the filters
# and the measuring program into build-quality, makes the quality job (zint
# barcodes as vector art and bitmaps, a grey page) per resolution, renders
# it through CUPS's own chain (cupsfilter, Ghostscript) with our PPD and
# with the ZPL PPD that ppdc builds from CUPS's sample.drv, prints it with
# our filter in each Halftone mode, and measures every print against the
# 8-bit raster. A full run (every resolution, all pages) writes
# quality/RESULTS.md and the pictures in quality/images/; a partial one
# writes only into the work folder.
#
# --filters DIR prints with the zplfilter-<dpi> programs found in DIR
# (another build folder, e.g. one with changed halftone constants) instead
# of the ones built here; like a partial run, it writes only into the work
# folder. Give each variant its own ZPL_QUALITY_DIR to keep its results.
#
# ZPL_QUALITY_DIR: work folder (default /tmp/zpl-quality).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${ZPL_QUALITY_DIR:-/tmp/zpl-quality}
build=$root/build-quality
all_dpis=(203 300 600)
dpis=("${all_dpis[@]}")
pages=all
filters=
while [ $# -gt 0 ]; do
  case $1 in
    --dpi) dpis=("$2"); shift 2 ;;
    --pages) pages=$2; shift 2 ;;
    --filters) filters=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: bash quality/run.sh [--dpi 203|300|600] [--pages barcodes|grey] [--filters DIR]" >&2; exit 2 ;;
  esac
done
full=0
[ ${#dpis[@]} = ${#all_dpis[@]} ] && [ "$pages" = all ] && [ -z "$filters" ] && full=1
filters=${filters:-$build}
log() { echo "quality: $*" >&2; }

# --- tools -------------------------------------------------------------------
# The suite is not part of the tests: its own packages stay out of
# tools/deps.sh and are installed here when missing.
packages=(
  build-essential cmake pkg-config libcups2-dev zlib1g-dev libpng-dev
  cups cups-client cups-filters cups-ppdc ghostscript poppler-utils
  zint libzxing-dev imagemagick bc
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- build -------------------------------------------------------------------
mkdir -p "$work"
log "building into $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DZPL_LOG_PATH="$work/quilby.log" >/dev/null
nice cmake --build "$build" -j2 >/dev/null
for t in quality/zpl-quality zplpass $(for dpi in "${dpis[@]}"; do printf 'zplfilter-%s ppd/zplfilter-%s.ppd ' "$dpi" "$dpi"; done); do
  [ -e "$build/$t" ] || { echo "quality: $build/$t was not built" >&2; exit 1; }
done

# CUPS's sample driver makes many PPDs; rastertolabel's ZPL one says ZPL.
cupslabel_ppd=$work/ppd/cupslabel.ppd
if [ ! -f "$cupslabel_ppd" ]; then
  mkdir -p "$work/ppd"
  ppdc -d "$work/ppd/sample" /usr/share/cups/drv/sample.drv 2>/dev/null
  zpl_ppd=$(grep -l '^\*ModelName:.*ZPL' "$work/ppd/sample"/*.ppd | head -1)
  [ -n "$zpl_ppd" ] && cp "$zpl_ppd" "$cupslabel_ppd"
fi
[ -f "$cupslabel_ppd" ] || { echo "quality: CUPS's sample driver gave no ZPL PPD" >&2; exit 1; }

# A private ServerBin with CUPS's filters and ours, for the one whole-chain
# run per resolution that checks the direct runs below against CUPS.
serverbin=$work/serverbin
rm -rf "$serverbin"
mkdir -p "$serverbin/filter"
for f in /usr/lib/cups/filter/*; do ln -s "$f" "$serverbin/filter/"; done
for model in "${dpis[@]}"; do
  rm -f "$serverbin/filter/zplfilter-$model"
  install -m 0755 "$filters/zplfilter-$model" "$serverbin/filter/zplfilter-$model"
done
# The PPDs name the ZPL pass-through too; cupsfilter checks it is there.
install -m 0755 "$build/zplpass" "$serverbin/filter/zplpass"
printf 'ServerBin %s\n' "$serverbin" >"$work/cups-files.conf"

# stale target sources...: true when target is missing or older than a source.
stale() {
  local target=$1; shift
  [ -f "$target" ] || return 0
  local s
  for s in "$@"; do [ "$s" -nt "$target" ] && return 0; done
  return 1
}

# raster ppd pdf out [options...]: the raster CUPS's chain makes for a PPD.
raster() {
  local ppd=$1 pdf=$2 out=$3; shift 3
  if stale "$out" "$ppd" "$pdf"; then
    cupsfilter -p "$ppd" "$@" -m application/vnd.cups-raster "$pdf" >"$out.tmp" 2>"$out.err"
    mv "$out.tmp" "$out"
  fi
}

# filter dpi raster out options: our filter on a raster, as CUPS starts it.
filter() {
  env PPD="$build/ppd/zplfilter-$1.ppd" "$filters/zplfilter-$1" 1 quality quality-job 1 "$4" <"$2" >"$3" 2>"$3.err"
}

modes=(Threshold Auto Photo)
goals=$work/goals.tsv
: >"$goals"
for dpi in "${dpis[@]}"; do
  dir=$work/$dpi-$pages
  mkdir -p "$dir"
  if stale "$dir/pages.pdf" "$root/quality/pages.sh"; then
    log "$dpi dpi: making the job ($pages)"
    bash "$root/quality/pages.sh" "$dpi" "$dir" "$pages"
  fi
  log "$dpi dpi: rendering through CUPS's chain"
  raster "$build/ppd/zplfilter-$dpi.ppd" "$dir/pages.pdf" "$dir/ours.ras"
  raster "$build/ppd/zplfilter-$dpi.ppd" "$dir/pages.pdf" "$dir/anypart.ras" -o CenterOfPixel=False
  raster "$cupslabel_ppd" "$dir/pages.pdf" "$dir/cupslabel.ras" -o Resolution="${dpi}dpi" -o PageSize=w288h432

  log "$dpi dpi: printing in each mode"
  label_args=()
  for mode in "${modes[@]}"; do
    filter "$dpi" "$dir/ours.ras" "$dir/$mode.zpl" "Halftone=$mode"
    label_args+=(--label "$mode=$dir/$mode.zpl")
  done
  filter "$dpi" "$dir/anypart.ras" "$dir/anypart.zpl" "Halftone=Threshold"
  label_args+=(--label "Threshold, any-part fill=$dir/anypart.zpl")

  # The PPD's defaults through the whole chain must give what the direct
  # run in Auto gave: the same raster and the same filter.
  cupsfilter -c "$work/cups-files.conf" -e -p "$build/ppd/zplfilter-$dpi.ppd" -m printer/foo \
    "$dir/pages.pdf" >"$dir/chain.zpl" 2>"$dir/chain.err"
  if ! cmp -s "$dir/chain.zpl" "$dir/Auto.zpl"; then
    echo "quality: at $dpi dpi the whole chain with the PPD defaults differs from the direct Auto run" >&2
    exit 1
  fi

  log "$dpi dpi: measuring"
  rm -rf "$dir/unread"; mkdir -p "$dir/unread"
  "$build/quality/zpl-quality" --layout "$dir/layout.tsv" --raster "$dir/ours.ras" "${label_args[@]}" \
    --bitmap "rastertolabel=$dir/cupslabel.ras" --out "$dir/report.md" --goals "$goals" \
    --png "$dir/grey-$dpi.png" --logo-png "$dir/logo-$dpi.png" --crops "$dir/unread"
done

# --- results -------------------------------------------------------------------
results=$work/RESULTS.md
{
  echo "# Print-quality results"
  echo
  echo "Made by \`bash quality/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') from commit $(git -C "$root" rev-parse --short HEAD)."
  echo "CUPS $(dpkg-query -W -f '${Version}' cups), cups-filters $(dpkg-query -W -f '${Version}' cups-filters),"
  echo "Ghostscript $(gs --version), zint $(dpkg-query -W -f '${Version}' zint), zxing-cpp $(dpkg-query -W -f '${Version}' libzxing-dev)."
  echo
  echo "Prints, all from the same PDF through \`cupsfilter\`: **Threshold**, **Auto** and **Photo** are our filter"
  echo "in each Halftone mode on the 8-bit raster of our PPD with its defaults (CenterOfPixel on); **Threshold,"
  echo "any-part fill** is the same with \`-o CenterOfPixel=False\` (Ghostscript's default fill rule);"
  echo "**rastertolabel** is the 1-bit raster CUPS hands to \`rastertolabel\` with the ZPL PPD of CUPS's"
  echo "sample.drv, the dots it prints. **raster** is the 8-bit raster itself, the truth."
  echo
  echo "## Goals at a glance"
  echo
  echo "| dpi | Goal | Measured | |"
  echo "|---|---|---|---|"
  awk -F'\t' '{ printf "| %s | %s | %s | %s |\n", $1, $2, $3, ($4 == "missed" ? "**missed**" : $4) }' "$goals"
  echo
  for dpi in "${dpis[@]}"; do
    sed 's/^## /## /' "$work/$dpi-$pages/report.md"
    if [ "$full" = 1 ]; then
      echo "The grey page, left to right: raster, then the prints in the order of the tables (ramp, patches and"
      echo "the top of the photograph, dot for dot):"
      echo
      echo "![Grey page at $dpi dpi](images/grey-$dpi.png)"
      echo
    fi
  done
  if [ -f "$root/quality/NOTES.md" ]; then
    cat "$root/quality/NOTES.md"
  fi
} >"$results"
log "wrote $results"
if [ "$full" = 1 ]; then
  mkdir -p "$root/quality/images"
  for dpi in "${dpis[@]}"; do cp "$work/$dpi-all/grey-$dpi.png" "$work/$dpi-all/logo-$dpi.png" "$root/quality/images/"; done
  cp "$results" "$root/quality/RESULTS.md"
  log "wrote quality/RESULTS.md and quality/images/"
fi
