#!/usr/bin/env bash
# Rebuilds the example HEX files from their sources with gputils and srecord.
# The outputs are committed so that tests and newcomers need neither tool;
# run this after changing blink.asm or the patterns below.
#
#   blink.hex   gpasm output, LF line endings (about a dozen records, with an
#               extended linear address record for the configuration words)
#   medium.hex  srec_cat pattern, 2102 lines, CRLF line endings (as a Windows
#               toolchain would write it)
#   large.hex   srec_cat pattern, 5123 lines, LF line endings, crosses 64 KiB
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# gpasm writes .lst and .cod next to its output; keep only the HEX file.
gpasm --quiet -o "$work/blink.hex" "$here/blink.asm"
cp "$work/blink.hex" "$here/blink.hex"

# 33600 bytes of text at 0x0800 (where an application sits above a small
# bootloader): 2100 data records of 16 bytes.
srec_cat -generate 0x0800 0x8B40 -repeat-string "Vantrel medium example image. " \
    -o "$here/medium.hex" -intel -output-block-size 16 -line-termination crlf

# 80 KiB of the bytes 0..250 repeated; 251 is prime, so no two neighbouring
# records carry the same data and every byte value appears.
srec_cat -generate 0x0000 0x14000 -repeat-data $(seq 0 250) \
    -o "$here/large.hex" -intel -output-block-size 16
