#!/usr/bin/env bash
# The program on a real console: what the user sees, types and presses.
source "$(dirname "$0")/lib.sh"
start_table
long_answer=n$(printf 'x%.0s' $(seq 2000))

console 'look-alikes are asked again' "${ask[@]}" Ｙ "${ask[@]}" ｎ "${ask[@]}" nope rc=0 --keys Ｙ ｎ nope
console 'Ctrl+C is no answer, and its event ends nothing' "${ask[@]}" "$no_answer" "$pause" rc=255 \
    --interrupt --keys C-c
console 'Ctrl+Z ends the line it ends' "${ask[@]}" y^Z "$switched" rc=0 --logoff=ends-session --keys 'y C-z'
console 'nothing after Ctrl+Z is read' "${ask[@]}" x^Zy "${ask[@]}" "$no_answer" "$pause" rc=255 --keys 'x C-z y'
console 'Ctrl+Z after a line longer than one read' "${ask[@]}" "$long_answer^Z" rc=0 --keys "$long_answer C-z"
console 'a read adds processed, line and echo input, keeps the mode' "${ask[@]}" x^Zn "${ask[@]}" "$no_answer" \
    "$pause" 'mode kept' rc=255 'read with processed line echo' --raw --keys 'n Left x C-z'
console 'a refused write shows its value as itself' "${ask[@]}" y \
    'Failed to set value. Value name: Shell, value: D:\录像\Server\Utility\Stationkeeper\Kestrelwarden.exe.' \
    "$switch_failed" "$pause" rc=255 --path='D:\录像' --drop-at-prompt --keys y
finish
