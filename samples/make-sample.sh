#!/usr/bin/env bash
# Rebuilds the bundled sample label, shipping-label.pdf, from its PostScript
# source. Run it after editing shipping-label.ps and keep both in the tree.
set -euo pipefail
cd "$(dirname "$0")"

# A fixed 4 x 6 in page whatever the local default paper is; the standard
# fonts stay unembedded to keep the file small (every CUPS chain has them).
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite \
   -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 -dFIXEDMEDIA \
   -sOutputFile=shipping-label.pdf shipping-label.ps
echo "wrote $(pwd)/shipping-label.pdf"
