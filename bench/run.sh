#!/usr/bin/env bash
# One command for the whole performance comparison:
#   bash bench/run.sh [rounds]
# Builds the filters and the bench tools into build-bench, renders a
# 100-label shipping job at each model's resolution through CUPS's own chain (our
# PPD: 8-bit grey; the ZPL PPD of CUPS's sample driver: 1-bit), times our
# filters, CUPS's rastertolabel and the floor program side by side, counts
# their instructions with callgrind on a 10-label job, runs the encoder
# micro-benchmarks and writes bench/RESULTS.md.
#
# rounds: timed runs of each command, taken in turns (default 7).
# ZPL_BENCH_DIR: work folder for rasters and outputs (default /tmp/zpl-bench).
# ZPL_BENCH_MODELS: the models to run (default "300 203 600"; 300 is needed,
# the memory and encoder figures are taken on it). The 600 dpi rasters of
# the 100-label job take about 1 GB.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
work=${ZPL_BENCH_DIR:-/tmp/zpl-bench}
build=$root/build-bench
labels=100
cg_labels=10
rastertolabel=/usr/lib/cups/filter/rastertolabel
results=$root/bench/RESULTS.md
models=${ZPL_BENCH_MODELS:-300 203 600}
case " $models " in *" 300 "*) ;; *) echo "bench: ZPL_BENCH_MODELS must include 300" >&2; exit 1 ;; esac

need() { # program package
  command -v "$1" >/dev/null 2>&1 || { echo "bench: $1 not found; apt-get install $2" >&2; exit 1; }
}
need cmake cmake
need gs ghostscript
need cupsfilter cups
need ppdc cups-ppdc
need valgrind valgrind
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time not found; apt-get install time" >&2; exit 1; }
[ -x "$rastertolabel" ] || { echo "bench: $rastertolabel not found; apt-get install cups" >&2; exit 1; }

mkdir -p "$work"
log() { echo "bench: $*" >&2; }

# --- build ---------------------------------------------------------------
# The filters log into the work folder, not into a live CUPS log.
log "building into $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  -DZPL_LOG_PATH="$work/quilby.log" >/dev/null
nice cmake --build "$build" -j2 >/dev/null
for t in $(printf 'zplfilter-%s ' $models) bench/zpl-floor bench/zpl-runner; do
  [ -x "$build/$t" ] || { echo "bench: $build/$t was not built" >&2; exit 1; }
done

# --- rasters -------------------------------------------------------------
# A raster header field: file, byte offset within cups_page_header2_t.
field() { od -An -tu4 -j $((4 + $2)) -N4 "$1" | tr -d ' '; }

# check_raster file dpi bits colourspace: the first page header is what the
# filter of that PPD expects.
check_raster() {
  local f=$1 dpi=$2 bits=$3 cs=$4
  local got="$(field "$f" 276)dpi $(field "$f" 372)x$(field "$f" 376) bits=$(field "$f" 384) cs=$(field "$f" 400)"
  log "$(basename "$f"): $got"
  if [ "$(field "$f" 276)" != "$dpi" ] || [ "$(field "$f" 384)" != "$bits" ] || [ "$(field "$f" 400)" != "$cs" ]; then
    echo "bench: $f is not ${dpi} dpi, $bits bits, colour space $cs" >&2
    exit 1
  fi
}

# CUPS's sample driver makes many PPDs; the one for rastertolabel's ZPL mode
# is the one whose model name says ZPL.
cupslabel_ppd=$work/ppd/cupslabel.ppd
if [ ! -f "$cupslabel_ppd" ]; then
  log "making the ZPL PPD of CUPS's sample driver"
  mkdir -p "$work/ppd"  # ppdc makes its output folder, not its parents
  ppdc -d "$work/ppd/sample" /usr/share/cups/drv/sample.drv 2>/dev/null
  zpl_ppd=$(grep -l '^\*ModelName:.*ZPL' "$work/ppd/sample"/*.ppd | head -1)
  [ -n "$zpl_ppd" ] && cp "$zpl_ppd" "$cupslabel_ppd"
fi
[ -f "$cupslabel_ppd" ] || { echo "bench: CUPS's sample driver gave no ZPL PPD" >&2; exit 1; }

# render dpi count: PostScript job, then both rasters, by CUPS's chain.
render() {
  local dpi=$1 n=$2
  local ps=$work/label-$n.ps ours=$work/ours-$dpi-$n.ras cupslabel=$work/cupslabel-$dpi-$n.ras
  # A changed label or PPD makes the files made from it again.
  if [ "$root/bench/label.ps" -nt "$ps" ]; then rm -f "$ps"; fi
  if [ ! -f "$ps" ]; then
    gs -q -dSAFER -dBATCH -dNOPAUSE -dlabels="$n" -sDEVICE=ps2write \
      -sOutputFile="$ps" "$root/bench/label.ps"
  fi
  if [ "$ps" -nt "$ours" ] || [ "$build/ppd/zplfilter-$dpi.ppd" -nt "$ours" ]; then rm -f "$ours"; fi
  if [ "$ps" -nt "$cupslabel" ] || [ "$cupslabel_ppd" -nt "$cupslabel" ]; then rm -f "$cupslabel"; fi
  if [ ! -f "$ours" ]; then
    log "rendering $n labels at $dpi dpi, 8-bit grey"
    cupsfilter -p "$build/ppd/zplfilter-$dpi.ppd" -m application/vnd.cups-raster "$ps" \
      >"$ours" 2>"$work/cupsfilter.err"
  fi
  check_raster "$ours" "$dpi" 8 0
  if [ ! -f "$cupslabel" ]; then
    log "rendering $n labels at $dpi dpi, 1-bit, for rastertolabel"
    cupsfilter -p "$cupslabel_ppd" -o Resolution="${dpi}dpi" -o PageSize=w288h432 \
      -m application/vnd.cups-raster "$ps" >"$cupslabel" 2>"$work/cupsfilter.err"
  fi
  check_raster "$cupslabel" "$dpi" 1 3
}
[ -f "$build/ppd/zplfilter-300.ppd" ] || { echo "bench: our PPDs were not built" >&2; exit 1; }
for dpi in $models; do
  render "$dpi" "$labels"
  render "$dpi" "$cg_labels"
done

# --- the commands ----------------------------------------------------------
# name, stdin, environment, program and arguments, tab-separated. Both
# filters get the options argument as CUPS would pass it; ours runs once per
# halftone mode ("ours" is the plain threshold), rastertolabel ignores it.
options=job-originating-host-name=localhost
mode_suffix() { case $1 in Threshold) ;; *) printf -- '-%s' "${1,,}" ;; esac; }
commands() { # count
  local n=$1 t mode
  for dpi in $models; do
    t=155; [ "$dpi" = 203 ] && t=156
    for mode in Threshold Auto Photo; do
      printf 'ours-%s%s\t%s\tPPD=%s\t%s\t1\tbench\tlabels\t1\t%s Halftone=%s\n' "$dpi" \
        "$(mode_suffix $mode)" "$work/ours-$dpi-$n.ras" "$build/ppd/zplfilter-$dpi.ppd" "$build/zplfilter-$dpi" \
        "$options" "$mode"
    done
    printf 'rastertolabel-%s\t%s\tPPD=%s\t%s\t1\tbench\tlabels\t1\t%s\n' "$dpi" "$work/cupslabel-$dpi-$n.ras" \
      "$cupslabel_ppd" "$rastertolabel" "$options"
    printf 'floor-%s\t%s\t-\t%s\t%s\n' "$dpi" "$work/ours-$dpi-$n.ras" "$build/bench/zpl-floor" "$t"
  done
}
commands "$labels" >"$work/commands.tsv"
commands "$cg_labels" >"$work/commands-$cg_labels.tsv"

# run_line line: runs one command line of commands.tsv with stdout to $2.
run_line() {
  local name input envs prog
  IFS=$'\t' read -r -a f <<<"$1"
  name=${f[0]} input=${f[1]} envs=${f[2]}
  local -a env_args=()
  [ "$envs" != "-" ] && env_args=("${envs}")
  env "${env_args[@]}" "${f[@]:3}" <"$input" >"$2" 2>/dev/null
}

# --- bytes sent ------------------------------------------------------------
declare -A bytes
while IFS= read -r line; do
  name=${line%%$'\t'*}
  run_line "$line" "$work/out-$name"
  bytes[$name]=$(( $(stat -c %s "$work/out-$name") / labels ))
done <"$work/commands.tsv"

# Our output must decode as exactly one label per page.
for name in $(for dpi in $models; do printf 'ours-%s ours-%s-auto ours-%s-photo ' "$dpi" "$dpi" "$dpi"; done); do
  got=$(grep -c '\^XZ' "$work/out-$name" || true)
  [ "$got" = "$labels" ] || { echo "bench: $name wrote $got labels, not $labels" >&2; exit 1; }
done

# --- times -------------------------------------------------------------------
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
log "timing: $rounds rounds of $labels-label jobs, commands in turns"
nice -n 0 "$build/bench/zpl-runner" "$rounds" "$work/commands.tsv" >"$work/times.tsv"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- instructions ------------------------------------------------------------
log "counting instructions with callgrind ($cg_labels-label jobs)"
declare -A instr
while IFS= read -r line; do
  IFS=$'\t' read -r -a f <<<"$line"
  name=${f[0]}
  out=$work/callgrind.$name
  env_args=()
  [ "${f[2]}" != "-" ] && env_args=("${f[2]}")
  env "${env_args[@]}" valgrind --tool=callgrind --callgrind-out-file="$out" "${f[@]:3}" \
    <"${f[1]}" >/dev/null 2>"$work/callgrind.$name.err"
  instr[$name]=$(awk '/^summary:/ { print $2 }' "$out")
done <"$work/commands-$cg_labels.tsv"

# --- peak memory from 10 to 1000 labels --------------------------------------
# 1000 pages of 8-bit grey do not fit a reasonable file: the 100-label
# raster is streamed ten times, the sync word of the copies after the first
# cut off so that libcups reads one stream of 1000 pages.
log "peak memory of zplfilter-300 on 10 and 1000 labels"
peak() { # raster-producing command...
  "$@" | env PPD="$build/ppd/zplfilter-300.ppd" /usr/bin/time -f %M "$build/zplfilter-300" 1 bench labels 1 \
    "$options" 2>&1 >/dev/null | tail -1
}
repeat10() {
  cat "$work/ours-300-$labels.ras"
  for _ in 1 2 3 4 5 6 7 8 9; do tail -c +5 "$work/ours-300-$labels.ras"; done
}
peak_10=$(peak cat "$work/ours-300-$cg_labels.ras")
peak_1000=$(peak repeat10)
label_count=$(repeat10 | env PPD="$build/ppd/zplfilter-300.ppd" "$build/zplfilter-300" 1 bench labels 1 "$options" \
  2>&1 >/dev/null | grep -c '^PAGE:')
[ "$label_count" = 1000 ] || { echo "bench: the 1000-label stream gave $label_count pages" >&2; exit 1; }

# --- encoder throughput --------------------------------------------------------
micro_csv=$work/micro.csv
if [ -x "$build/bench/zpl-micro" ]; then
  log "micro-benchmarks"
  ZPL_BENCH_RASTER="$work/ours-300-$cg_labels.ras" "$build/bench/zpl-micro" --benchmark_format=csv \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null >"$micro_csv"
else
  : >"$micro_csv"
fi

# --- RESULTS.md ------------------------------------------------------------------
col() { awk -F'\t' -v n="$1" -v c="$2" '$1 == n { print $c }' "$work/times.tsv"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'; }
per_label() { awk -v a="$1" -v n="$2" 'BEGIN { printf "%.2f", a / n }'; }
# micro name field: the median of the repetitions (csv: name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...)
micro() { awk -F, -v n="\"BM_$1_median\"" -v c="$2" '$1 == n { print $c }' "$micro_csv"; }

us() { awk -v t="$1" 'BEGIN { printf "%.1f", t / 1000 }'; }          # ns to µs
gbs() { awk -v b="$1" 'BEGIN { printf "%.2f GB/s", b / 1e9 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.2f", k / 1024 }'; }          # KiB to MiB
# CPU time (column 4, ns) and bytes per second (column 6) of the medians.
g2b=$(micro Gray2Bytes 6) b64=$(micro Base64Encode 6) crc=$(micro GetCRC16 6) zl=$(micro compress 6)
g2bt=$(micro Gray2Bytes 4) b64t=$(micro Base64Encode 4) crct=$(micro GetCRC16 4) zlt=$(micro compress 4)

# Memory budget: the four page buffers of a 1200 x 1800 label plus 8 MiB.
# The text is at most the whole label our filter sends.
grey_bytes=$((1200 * 1800)) packed_bytes=$((150 * 1800))
bound_bytes=$((packed_bytes + (packed_bytes >> 12) + (packed_bytes >> 14) + (packed_bytes >> 25) + 13))
text_bytes=${bytes[ours-300]}
budget_kib=$(( (grey_bytes + packed_bytes + bound_bytes + text_bytes) / 1024 + 8 * 1024 ))

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
{
  echo "# Performance results"
  echo
  echo "Made by \`bash bench/run.sh $rounds\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo "Machine: $cpu, $(nproc) cores, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo), $(uname -sr)."
  echo "zlib $(dpkg-query -W -f '${Version}' zlib1g 2>/dev/null), CUPS $(dpkg-query -W -f '${Version}' cups 2>/dev/null), Ghostscript $(gs --version)."
  echo "Load average (1, 5, 15 min) before timing: $load_before; after: $load_after. The machine is"
  echo "shared: take the times as a guide and the instruction counts as the measure."
  echo
  echo "Job: $labels different 4 x 6 in shipping labels (bench/label.ps: text, barcode, boxes, grey logo),"
  echo "rendered by \`cupsfilter\` through our PPD (8-bit grey, colour space W) and through the ZPL PPD that"
  echo "\`ppdc\` builds from CUPS's sample.drv (1-bit, colour space K). Times: whole processes, $rounds runs each,"
  echo "all commands in turns; median, with min to max. Instructions: callgrind, a $cg_labels-label job, per label"
  echo "(the process start-up shared out over the labels)."
  echo
  echo "| Program | ms / label (median) | min to max, ms / label | labels / s | instructions / label | bytes sent / label | peak memory, MiB |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  while IFS=$'\t' read -r name med min max q1 q3 rss; do
    printf '| %s | %s | %s to %s | %.0f | %s | %s | %.1f |\n' "$name" "$(per_label "$med" "$labels")" \
      "$(per_label "$min" "$labels")" "$(per_label "$max" "$labels")" \
      "$(awk -v m="$med" -v n="$labels" 'BEGIN { print n * 1000 / m }')" \
      "$(awk -v i="${instr[$name]}" -v n="$cg_labels" 'BEGIN { printf "%.0f", i / n }')" \
      "${bytes[$name]}" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
  done <"$work/times.tsv"
  echo
  # ratio_row title kind numerator denominator: one column per model.
  ratio_of() { # kind name name
    case $1 in
      time) ratio "$(col "$2" 2)" "$(col "$3" 2)" ;;
      bytes) ratio "${bytes[$2]}" "${bytes[$3]}" ;;
      instr) ratio "${instr[$2]}" "${instr[$3]}" ;;
    esac
  }
  ratio_row() {
    local line="| $1 |" dpi
    for dpi in $models; do line+=" $(ratio_of "$2" "$3-$dpi" "$4-$dpi") |"; done
    echo "$line"
  }
  head_line="| Ratio |" rule="|---|"
  for dpi in $models; do head_line+=" $dpi dpi |" rule+="---:|"; done
  echo "$head_line"
  echo "$rule"
  ratio_row "time, ours / rastertolabel" time ours rastertolabel
  ratio_row "bytes sent, ours / rastertolabel" bytes ours rastertolabel
  ratio_row "instructions, ours / rastertolabel" instr ours rastertolabel
  ratio_row "time, ours / floor (target at most 1.10 at 300 dpi)" time ours floor
  ratio_row "instructions, ours / floor (target at most 1.05 at 300 dpi)" instr ours floor
  echo
  echo "Peak memory of zplfilter-300 (maximum resident set): $(mib "$peak_10") MiB for $cg_labels labels,"
  echo "$(mib "$peak_1000") MiB for 1000 labels (the 100-label job streamed ten times)."
  if [ -n "$g2b" ]; then
    echo
    echo "Encoders on the first 300 dpi label (Google Benchmark, CPU time, median of 5 repetitions):"
    echo
    echo "| Function | input | µs per page | throughput |"
    echo "|---|---|---:|---:|"
    echo "| Gray2Bytes | grey page, 2.16 MB | $(us "$g2bt") | $(gbs "$g2b") |"
    echo "| Base64Encode | compressed page | $(us "$b64t") | $(gbs "$b64") |"
    echo "| GetCRC16 | base64 text | $(us "$crct") | $(gbs "$crc") |"
    echo "| zlib compress, for scale | packed page, 0.27 MB | $(us "$zlt") | $(gbs "$zl") |"
  fi
  echo
  echo "## Targets"
  echo
  echo "| Target | Measured | |"
  echo "|---|---:|---|"
  verdict() { awk -v v="$1" -v l="$2" 'BEGIN { if (v == "") print "not measured"; else if (v + 0 <= l + 0) print "met"; else printf "missed by %.1f %%\n", 100 * (v - l) / l }'; }
  r=$(ratio "${instr[ours-300]}" "${instr[floor-300]}")
  echo "| instructions per 300 dpi label, ours / floor, at most 1.05 | $r | $(verdict "$r" 1.05) |"
  r=$(ratio "$(col ours-300 2)" "$(col floor-300 2)")
  echo "| median time per 300 dpi label, ours / floor, at most 1.10 | $r | $(verdict "$r" 1.10) |"
  if [ -n "$g2b" ]; then
    r=$(awk -v b="$g2b" 'BEGIN { printf "%.2f", b / 1e9 }')
    echo "| Gray2Bytes, at least 2 GB/s of grey | $r GB/s | $(awk -v r="$r" 'BEGIN { print (r >= 2 ? "met" : "missed") }') |"
    r=$(awk -v a="$b64t" -v b="$crct" -v z="$zlt" 'BEGIN { printf "%.1f", 100 * (a + b) / z }')
    echo "| base64 and CRC, under 10 % of the zlib time | $r % | $(verdict "$r" 10) |"
  fi
  for mode in auto photo; do
    r=$(ratio "${instr[ours-300-$mode]}" "${instr[floor-300]}")
    echo "| instructions per 300 dpi label, Halftone=${mode^} / floor, at most 1.2 | $r | $(verdict "$r" 1.2) |"
  done
  echo "| peak memory, at most the page buffers + 8 MiB = $(mib "$budget_kib") MiB | $(mib "$peak_10") MiB (10 labels) | $(verdict "$peak_10" "$budget_kib") |"
  echo "| peak memory flat from 10 to 1000 labels | $(mib "$peak_10") to $(mib "$peak_1000") MiB | $(awk -v a="$peak_10" -v b="$peak_1000" 'BEGIN { print (b <= a * 1.02 ? "met" : "missed") }') |"
  echo
  echo "The page buffers of one 300 dpi label: grey $grey_bytes, packed $packed_bytes, compressed"
  echo "(zlib's bound) $bound_bytes and base64 text at most $text_bytes bytes."
  if [ -f "$root/bench/NOTES.md" ]; then
    echo
    cat "$root/bench/NOTES.md"
  fi
} >"$results.tmp"
mv "$results.tmp" "$results"
log "wrote $results"
