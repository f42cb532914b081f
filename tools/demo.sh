#!/usr/bin/env bash
# The main job: installs what is missing, builds into build/, and prints the
# bundled 4 x 6 in shipping label (samples/shipping-label.pdf) through CUPS's
# own chain (pdftopdf, gstoraster) into every model's filter, as a queue with our PPD
# would. Writes the ZPL of each model, and PNG previews when the preview tool
# is built, into the folder given as the first argument (default out/).
# Extra arguments are job options passed on, e.g. -o Darkness=20.
# Nothing is installed system-wide beyond the Debian packages.
# ZPL_BUILD_DIR chooses another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ZPL_BUILD_DIR:-build}

out=${1:-out}
shift || true
mkdir -p "$out"
out=$(cd "$out" && pwd)

bash tools/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
# The models are those the build made a PPD for (ZPL_MODELS in CMake).
models=$(cd "$build/ppd" && ls zplfilter-*.ppd | sed 's/^zplfilter-\(.*\)\.ppd$/\1/')

# cupsfilter finds filters only in its ServerBin: a private one that holds
# CUPS's filters and ours, so nothing has to be installed to run the chain.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/serverbin/filter"
for f in /usr/lib/cups/filter/*; do
  ln -s "$f" "$work/serverbin/filter/"
done
for model in $models; do
  rm -f "$work/serverbin/filter/zplfilter-$model"
  install -m 0755 "$build/zplfilter-$model" "$work/serverbin/filter/zplfilter-$model"
done
# The PPDs name the ZPL pass-through and the command filter too; cupsfilter
# checks they are there.
install -m 0755 "$build/zplpass" "$build/zplcommand" "$work/serverbin/filter/"
printf 'ServerBin %s/serverbin\n' "$work" > "$work/cups-files.conf"

for model in $models; do
  zpl="$out/shipping-label-$model.zpl"
  cupsfilter -c "$work/cups-files.conf" -e -p "$build/ppd/zplfilter-$model.ppd" -m printer/foo "$@" \
    "$root/samples/shipping-label.pdf" > "$zpl" 2> "$out/cupsfilter-$model.log" || {
    echo "cupsfilter failed for zplfilter-$model; see $out/cupsfilter-$model.log" >&2
    exit 1
  }
  echo "zplfilter-$model: $zpl ($(grep -c '\^XZ' "$zpl") labels, $(wc -c < "$zpl") bytes)"
  if [ -x "$build/preview/zplpreview" ]; then
    "$build/preview/zplpreview" --dpi "$model" --png "$out/shipping-label-$model" "$zpl" > "$out/shipping-label-$model.txt"
    echo "  previews: $(ls "$out"/shipping-label-"$model"-*.png | tr '\n' ' ')"
  fi
done
echo "Output folder: $out"
