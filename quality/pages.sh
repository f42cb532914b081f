#!/usr/bin/env bash
# Makes the print-quality job for one resolution:
#   bash quality/pages.sh DPI FOLDER [barcodes|grey|all]
# Writes FOLDER/pages.pdf (4 x 6 in pages) and FOLDER/layout.tsv, which says
# where every barcode and grey element is and what it should read.
#
# Barcodes come from zint, each as vector art (zint's EPS) and as five kinds
# of bitmap: whole dots per module placed dot for dot, one pixel per module
# scaled by the page to the module size (a non-integer factor), edges smoothed
# by area averaging, that smoothed bitmap as a JPEG, and softened further by
# a blur of half a dot so that every edge spans two grey pixels, as a
# bitmap scaled with interpolation has them. The grey page holds a
# ramp, ten flat patches, a photograph (ImageMagick's built-in rose, enlarged)
# and a grey logo.
set -euo pipefail

dpi=$1
out=$2
which=${3:-all}
mkdir -p "$out/img"
out=$(cd "$out" && pwd)
img=$out/img

# Page geometry: 4 x 6 in, positions in millimetres from the top left.
page_w=288
page_h=432
pt() { awk -v m="$1" 'BEGIN { printf "%.4f", m * 72 / 25.4 }'; }
# A position snapped to the printer's dot grid, in points.
snap_pt() { awk -v m="$1" -v d="$dpi" 'BEGIN { printf "%.6f", int(m * d / 25.4 + 0.5) * 72 / d }'; }

# The symbols: name, zint type, zint options, data, text a reader must give,
# zxing format, module (X) in mm, bar height in mm (linear), page (linear or
# matrix), left and top in mm.
symbols() {
  cat <<'EOF'
code128-0.25|CODE128||QUALITY 0.25|QUALITY 0.25|Code128|0.25|10|linear|8|10
code128-0.33|CODE128||QUALITY 0.33|QUALITY 0.33|Code128|0.33|10|linear|8|32
code128-0.40|CODE128||QUALITY 0.40|QUALITY 0.40|Code128|0.40|10|linear|8|54
code128-0.50|CODE128||QUALITY 0.50|QUALITY 0.50|Code128|0.50|10|linear|5|76
gs1-128|GS1_128|--gs1|[01]09501101530003[10]ABC123|010950110153000310ABC123|Code128|0.33|10|linear|5|98
itf-14|ITF14||1234567890123|12345678901231|ITF|0.50|12|linear|5|120
pdf417|PDF417||LABEL QUALITY PDF417 0123456789|LABEL QUALITY PDF417 0123456789|PDF417|0.30|0|matrix|8|10
qr|QRCODE||QUALITY QR 0123456789|QUALITY QR 0123456789|QRCode|0.40|0|matrix|8|40
datamatrix|DATAMATRIX|--square|QUALITY DM 0123456789|QUALITY DM 0123456789|DataMatrix|0.40|0|matrix|40|40
aztec|AZTEC||QUALITY AZTEC 0123456789|QUALITY AZTEC 0123456789|Aztec|0.50|0|matrix|68|40
maxicode|MAXICODE|--mode=4|MAXICODE QUALITY TEST 0123456789|MAXICODE QUALITY TEST 0123456789|MaxiCode|0.88|0|matrix|8|75
EOF
}

# zint_args name: the options every rendering of a symbol shares.
zint_args() { # type opts data X height
  local args=(-b "$1" --notext -d "$3")
  [ -n "$2" ] && args+=("$2")
  if [ "$5" != 0 ]; then
    args+=("--height=$(awk -v h="$5" -v x="$4" 'BEGIN { printf "%d", h / x + 0.5 }')")
  fi
  printf '%s\n' "${args[@]}"
}

# hex_of file: the file as ASCII hex for an inline PostScript data source.
hex_of() { basenc --base16 -w 100 "$1"; echo ">"; }

# image_ps file width height x_pt y_pt w_pt h_pt jpeg: draws an 8-bit grey
# image (raw bytes, or a JPEG file when jpeg=1) into the given box, origin
# at the box's top left in page points from the top.
image_ps() {
  local f=$1 w=$2 h=$3 x=$4 y=$5 bw=$6 bh=$7 jpeg=$8 src
  src="currentfile /ASCIIHexDecode filter"
  [ "$jpeg" = 1 ] && src="$src /DCTDecode filter"
  cat <<EOF
gsave $x $(awk -v y="$y" -v h="$bh" -v p="$page_h" 'BEGIN { printf "%.6f", p - y - h }') translate $bw $bh scale
/DeviceGray setcolorspace
<< /ImageType 1 /Width $w /Height $h /BitsPerComponent 8 /Decode [0 1]
   /ImageMatrix [$w 0 0 -$h 0 $h] /DataSource $src >> image
EOF
  hex_of "$f"
  echo "grestore"
}

# eps_ps file x_pt y_pt scale: the EPS drawn with its bottom left at the
# given point (page points from the top, of its bottom edge).
eps_ps() {
  cat <<EOF
save /showpage {} def
$2 $(awk -v y="$3" -v p="$page_h" 'BEGIN { printf "%.6f", p - y }') translate $4 dup scale
%%BeginDocument: symbol
EOF
  sed '/^%%EOF/d' "$1"
  cat <<EOF
%%EndDocument
restore
EOF
}

# size_of png: "width height"
size_of() { identify -format '%w %h\n' "$1"; }
# raw grey bytes of an image file
to_gray() { convert "$1" -colorspace Gray -depth 8 "gray:$2"; }

layout=$out/layout.tsv
: >"$layout"
page=0
ps_files=()

# begin_page file: a new page of the job.
begin_page() {
  page=$((page + 1))
  printf '%%!PS-Adobe-3.0\n<< /PageSize [%s %s] >> setpagedevice\n' "$page_w" "$page_h" >"$1"
  ps_files+=("$1")
}
# caption file text: a small title at the top of the page.
caption() {
  printf '/Helvetica findfont 7 scalefont setfont 0 setgray 14 %s moveto (%s) show newpath\n' "$((page_h - 12))" "$2" >>"$1"
}
# record page item kind type format text x y w h X pattern (points from the top)
record() { printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$page" "$@" >>"$layout"; }

# The modules of a linear symbol's first row as 0 and 1, from zint's dump.
pattern_of() { # zint args...
  zint "$@" --dump | head -1 | tr -d ' ' | sed 's/[0-9A-F]/&\n/g' | grep . |
    while read -r nib; do
      printf '%04d' "$(echo "obase=2; ibase=16; $nib" | bc)"
    done
}

barcode_page() { # kind
  local kind=$1
  local kinds_title
  case $kind in
    vector) kinds_title="vector art (zint EPS)" ;;
    dots) kinds_title="bitmaps, whole dots per module" ;;
    scaled) kinds_title="bitmaps, one pixel per module scaled to the module size" ;;
    smooth) kinds_title="bitmaps with smoothed (area-averaged) edges" ;;
    jpeg) kinds_title="the smoothed bitmaps as JPEG (quality 75)" ;;
    soft) kinds_title="the smoothed bitmaps blurred by half a dot: edges two grey pixels wide" ;;
  esac
  for layout_kind in linear matrix; do
    local ps=$out/page-$kind-$layout_kind.ps
    begin_page "$ps"
    caption "$ps" "$kinds_title, $layout_kind symbols, $dpi dpi"
    while IFS='|' read -r name type opts data text format x height where left top; do
      [ "$where" = "$layout_kind" ] || continue
      mapfile -t args < <(zint_args "$type" "$opts" "$data" "$x" "$height")
      local base=$img/$name
      local pattern=-
      [ "$layout_kind" = linear ] && [ "$format" = Code128 ] && pattern=$(pattern_of "${args[@]}")
      # The module of the page in dots, and the one whole-dot bitmaps use.
      local f n w h bw bh xp yp
      f=$(awk -v x="$x" -v d="$dpi" 'BEGIN { printf "%.6f", x * d / 25.4 }')
      n=$(awk -v f="$f" 'BEGIN { n = int(f + 0.5); print (n < 1 ? 1 : n) }')
      case $kind in
        vector)
          zint "${args[@]}" --filetype=eps -o "$base.eps"
          read -r _ _ _ w h < <(grep '^%%BoundingBox' "$base.eps")
          # zint's EPS has two units to a module.
          local s; s=$(awk -v x="$x" 'BEGIN { printf "%.6f", x / 2 * 72 / 25.4 }')
          bw=$(awk -v w="$w" -v s="$s" 'BEGIN { printf "%.4f", w * s }')
          bh=$(awk -v h="$h" -v s="$s" 'BEGIN { printf "%.4f", h * s }')
          # Off the dot grid on purpose: vector art lands anywhere.
          xp=$(awk -v m="$left" 'BEGIN { printf "%.4f", m * 72 / 25.4 + 0.13 }')
          yp=$(awk -v m="$top" 'BEGIN { printf "%.4f", m * 72 / 25.4 + 0.21 }')
          eps_ps "$base.eps" "$xp" "$(awk -v y="$yp" -v h="$bh" 'BEGIN { printf "%.4f", y + h }')" "$s" >>"$ps"
          ;;
        *)
          local png=$img/$name-$kind-$dpi.png jpeg=0 raw
          if [ "$type" = MAXICODE ]; then
            # Hexagons never fall on whole modules: zint draws MaxiCode at
            # a size, about 300 pixels per unit of scale.
            local target; target=$(awk -v f="$f" 'BEGIN { printf "%d", f * 30 + 0.5 }')
            case $kind in
              dots) zint "${args[@]}" --scale="$(awk -v t="$target" 'BEGIN { printf "%.3f", t / 299 * 1.04 }')" -o "$png" ;;
              scaled) zint "${args[@]}" --scale=0.5 -o "$png" ;;
              smooth | jpeg | soft)
                zint "${args[@]}" --scale=3 -o "$base-big.png"
                convert "$base-big.png" -colorspace Gray -filter Box -resize "${target}x" "$png" ;;
            esac
          else
            zint "${args[@]}" --scale=0.5 -o "$base-1.png"
            case $kind in
              dots) convert "$base-1.png" -colorspace Gray -sample "$((n * 100))%" "$png" ;;
              scaled) convert "$base-1.png" -colorspace Gray "$png" ;;
              smooth | jpeg | soft)
                # Eight times up dot for dot, then down to the page's module
                # by area averaging: edge pixels take the grey of their cover.
                read -r w h < <(size_of "$base-1.png")
                convert "$base-1.png" -colorspace Gray -sample 800% -filter Box \
                  -resize "$(awk -v w="$w" -v f="$f" 'BEGIN { printf "%d", w * f + 0.5 }')x$(awk -v h="$h" -v f="$f" 'BEGIN { printf "%d", h * f + 0.5 }')!" "$png" ;;
            esac
          fi
          [ "$kind" = soft ] && convert "$png" -blur 0x0.5 "$png"
          read -r w h < <(size_of "$png")
          raw=$png.gray
          if [ "$kind" = jpeg ]; then
            raw=$img/$name-jpeg-$dpi.jpg
            convert "$png" -colorspace Gray -quality 75 -sampling-factor 1x1 "$raw"
            jpeg=1
          else
            to_gray "$png" "$raw"
          fi
          if [ "$kind" = scaled ]; then
            # One pixel per module (MaxiCode: zint's smallest drawing), drawn
            # at the module size: Ghostscript picks pixels, no smoothing.
            local per; per=$(awk -v x="$x" -v t="$type" -v w="$w" 'BEGIN { if (t == "MAXICODE") printf "%.6f", 30 * x / w * 72 / 25.4; else printf "%.6f", x * 72 / 25.4 }')
            bw=$(awk -v w="$w" -v p="$per" 'BEGIN { printf "%.4f", w * p }')
            bh=$(awk -v h="$h" -v p="$per" 'BEGIN { printf "%.4f", h * p }')
            xp=$(awk -v m="$left" 'BEGIN { printf "%.4f", m * 72 / 25.4 + 0.13 }')
            yp=$(awk -v m="$top" 'BEGIN { printf "%.4f", m * 72 / 25.4 + 0.21 }')
          else
            # One image pixel on one printer dot.
            bw=$(awk -v w="$w" -v d="$dpi" 'BEGIN { printf "%.6f", w * 72 / d }')
            bh=$(awk -v h="$h" -v d="$dpi" 'BEGIN { printf "%.6f", h * 72 / d }')
            xp=$(snap_pt "$left")
            yp=$(snap_pt "$top")
          fi
          image_ps "$raw" "$w" "$h" "$xp" "$yp" "$bw" "$bh" "$jpeg" >>"$ps"
          ;;
      esac
      # The module as drawn: whole-dot bitmaps have their own.
      local drawn=$x
      [ "$kind" = dots ] && [ "$type" != MAXICODE ] && drawn=$(awk -v n="$n" -v d="$dpi" 'BEGIN { printf "%.6f", n * 25.4 / d }')
      record "$name" "$kind" barcode "$format" "$text" "$xp" "$yp" "$bw" "$bh" "$drawn" "$pattern"
    done < <(symbols)
    echo showpage >>"$ps"
  done
}

grey_page() {
  local ps=$out/page-grey.ps
  begin_page "$ps"
  caption "$ps" "grey art: ramp, patches 5 to 95 %, photograph, logo; $dpi dpi"
  local x y w h
  # Ramp, black at the left to white at the right.
  x=$(pt 5) y=$(pt 6) w=$(pt 91.6) h=$(pt 14)
  cat >>"$ps" <<EOF
gsave $x $(awk -v y="$y" -v h="$h" -v p="$page_h" 'BEGIN { print p - y - h }') translate
newpath 0 0 moveto $w 0 lineto $w $h lineto 0 $h lineto closepath clip
<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 $w 0] /Extend [true true]
   /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> >> shfill
grestore
EOF
  record ramp grey ramp - - "$x" "$y" "$w" "$h" - -
  # Ten flat patches, 5 % to 95 % black in steps of 10 %.
  local i pct
  for i in 0 1 2 3 4 5 6 7 8 9; do
    pct=$((5 + 10 * i))
    x=$(pt "$(awk -v i="$i" 'BEGIN { print 5 + (i % 5) * 18.5 }')")
    y=$(pt "$(awk -v i="$i" 'BEGIN { print 24 + int(i / 5) * 17 }')")
    w=$(pt 17) h=$(pt 15)
    printf '%s setgray %s %s %s %s rectfill\n' "$(awk -v p="$pct" 'BEGIN { print 1 - p / 100 }')" \
      "$x" "$(awk -v y="$y" -v h="$h" -v p="$page_h" 'BEGIN { print p - y - h }')" "$w" "$h" >>"$ps"
    record "patch-$pct" grey patch - "$pct" "$x" "$y" "$w" "$h" - -
  done
  # A photograph: ImageMagick's own rose, enlarged smoothly to the dots of
  # the page and placed dot for dot.
  local pw ph
  pw=$(awk -v d="$dpi" 'BEGIN { printf "%d", 91.6 / 25.4 * d }')
  ph=$(awk -v w="$pw" 'BEGIN { printf "%d", w * 46 / 70 }')
  convert rose: -colorspace Gray -filter Lanczos -resize "${pw}x${ph}!" -depth 8 "gray:$img/photo-$dpi.gray"
  x=$(snap_pt 5) y=$(snap_pt 60)
  w=$(awk -v p="$pw" -v d="$dpi" 'BEGIN { printf "%.6f", p * 72 / d }')
  h=$(awk -v p="$ph" -v d="$dpi" 'BEGIN { printf "%.6f", p * 72 / d }')
  image_ps "$img/photo-$dpi.gray" "$pw" "$ph" "$x" "$y" "$w" "$h" 0 >>"$ps"
  record photo grey photo - - "$x" "$y" "$w" "$h" - -
  # A grey logo: mid-grey lettering, a shaded disc with a dark ring, light
  # grey small text and a hairline-thin light grey rule.
  x=$(pt 5) y=$(pt 123) w=$(pt 91.6) h=$(pt 25)
  local base; base=$(awk -v y="$y" -v h="$h" -v p="$page_h" 'BEGIN { print p - y - h }')
  cat >>"$ps" <<EOF
gsave $x $base translate
newpath 0.7 setgray 22 36 16 0 360 arc fill
0.3 setgray 1.5 setlinewidth 22 36 16 0 360 arc stroke
0.45 setgray 22 36 8 0 360 arc fill
0.5 setgray /Helvetica-Bold findfont 24 scalefont setfont 46 40 moveto (ACME LABELS) show
0.6 setgray /Helvetica findfont 8 scalefont setfont 46 26 moveto (Grey art must stay grey on the label) show
0.85 setgray 0 12 moveto $w 0 rlineto 1.4 setlinewidth stroke
0.75 setgray 0 4 moveto $w 0 rlineto 0.6 setlinewidth stroke
grestore
EOF
  record logo grey logo - - "$x" "$y" "$w" "$h" - -
  echo showpage >>"$ps"
}

case $which in
  barcodes | all) for k in vector dots scaled smooth jpeg soft; do barcode_page "$k"; done ;;
esac
case $which in
  grey | all) grey_page ;;
esac

# pdfwrite keeps the grey images lossless and passes the JPEGs through.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dAutoFilterGrayImages=false -dGrayImageFilter=/FlateEncode \
  -dDownsampleGrayImages=false -dDownsampleMonoImages=false -dPassThroughJPEGImages=true \
  -sOutputFile="$out/pages.pdf" "${ps_files[@]}"
