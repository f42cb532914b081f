#!/usr/bin/env bash
# The main job: installs what is missing, builds into build/, and prints the
# bundled 4 x 6 in shipping label (samples/shipping-label.pdf) through CUPS's
# own chain (pdftopdf, gstoraster) into every model's filter, as a queue with our PPD
# would. Writes the ZPL of each model, and PNG previews when the preview tool
# is built, into the folder given as the first argument (default out/).
# Then prints those labels on the virtual printer (zpl-virtual-printer on a
# free loopback port), which keeps and draws them in <folder>/virtual-printer/,
# and asks it for its status once it has been told its labels run low.
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

# The same labels on the virtual printer, sent as a network printer gets a
# job on its port 9100 (here a free loopback port), one connection each.
printer_dir="$out/virtual-printer"
rm -rf "$printer_dir"
mkdir -p "$printer_dir"
"$build/vprinter/zpl-virtual-printer" --port 0 --folder "$printer_dir" --png > "$out/virtual-printer.log" &
printer_pid=$!
trap 'kill "$printer_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out/virtual-printer.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the virtual printer did not start; see $out/virtual-printer.log" >&2; exit 1; }

# The state file tells the printer what it is; renamed into place, so that
# it is never read half written.
set_printer_state() {
  printf '%s\n' "$@" > "$printer_dir/state.new"
  mv "$printer_dir/state.new" "$printer_dir/state"
}
# Each model's labels at its resolution: the next resolution is set once
# the printer has taken them all.
sent=0
for model in $models; do
  set_printer_state "dpi $model"
  cat "$out/shipping-label-$model.zpl" > "/dev/tcp/127.0.0.1/$port"
  sent=$((sent + $(grep -c '\^XZ' "$out/shipping-label-$model.zpl")))
  for _ in $(seq 300); do
    [ "$(ls "$printer_dir" | grep -c '^label-.*\.png$')" -ge "$sent" ] && break
    sleep 0.1
  done
done
echo "zpl-virtual-printer on 127.0.0.1:$port: $(ls "$printer_dir" | grep -c '^label-.*\.zpl$') labels kept in $printer_dir (label-NNNN.zpl, drawn as label-NNNN.png)"

# Its status block (~HQES) once its labels run low: warning bit 8.
set_printer_state "media-near-end"
exec {printer}<>"/dev/tcp/127.0.0.1/$port"
printf '~HQES' >&"$printer"
reply=""
IFS= read -r -d $'\003' -t 5 reply <&"$printer" || true
exec {printer}>&-
echo "  its answer to ~HQES with media-near-end set:"
printf '%s\n' "$reply" | tr -d '\002\r' | sed '/^$/d; s/^/    /'
kill "$printer_pid"
wait "$printer_pid" || true
echo "  its log: $out/virtual-printer.log"
echo "Output folder: $out"
