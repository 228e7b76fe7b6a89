#!/usr/bin/env bash
# The program's outcomes, its argument and its answers, its registry values, and the log-off, from a pipe.
source "$(dirname "$0")/lib.sh"
start_table
longest=$(printf 'D%.0s' $(seq 2046))
# Control characters at the edges of each range, shown as U+FFFD, beside neighbours shown as themselves.
odd='D:\录像🎥'$'\n\x01\x1f ~\x7f\u0085\u009f\u00a0\u2027\u2028\u2029\u202a'
odd_shown='D:\录像🎥'$'\uFFFD\uFFFD\uFFFD ~\uFFFD\uFFFD\uFFFD\u00a0\u2027\uFFFD\uFFFD\u202a'

run 'no argument is wrong' 255 "$wrong_parameters" "$pause"
run 'two arguments are wrong' 255 "$wrong_parameters" "$pause" -- s w
run 'two letters are wrong' 255 "$wrong_parameters" "$pause" -- sw
run 'an empty argument is wrong' 255 "$wrong_parameters" "$pause" -- ''
run 'another letter is wrong' 255 "$wrong_parameters" "$pause" -- x
run 'a letter whose upper case is S elsewhere is wrong' 255 "$wrong_parameters" "$pause" -- ſ
run 'without Winlogon the run ends' 255 "$no_winlogon_key" "$pause" --no-winlogon-key --shell= -- s
run 'the software key is read in the 32-bit view only' 255 "$no_software_key" "$pause" --no-software-key -- s
run 'a marker of another type is unread' 255 "$unread_marker" "$not_an_appliance" "$pause" --dword-marker -- s
run 'the marker 0 is no appliance' 255 "$not_an_appliance" "$pause" --marker=0 -- s
run 'the marker 11 is no appliance' 255 "$not_an_appliance" "$pause" --marker=11 -- s
run 'the marker "1 " is no appliance' 255 "$not_an_appliance" "$pause" --marker='1 ' -- s
run 'the marker 01 is no appliance' 255 "$not_an_appliance" "$pause" --marker=01 -- s
run 'only the first character of an answer counts' 0 "${ask[@]}" "${ask[@]}" "${ask[@]}" "${ask[@]}" "${ask[@]}" \
    --input='maybe\n\n y\n1\nNope\n' -- S
run 'the end of input is no answer' 255 "${ask[@]}" "${ask[@]}" "$no_answer" "$pause" --input='ok\n' -- s
run 'no path fails the switch' 255 "${ask[@]}" "$unread_path" "$switch_failed" "$pause" --no-path -- s
run 'an empty path fails the switch, without a line' 255 "${ask[@]}" "$switch_failed" "$pause" --path= -- s
run 'a path one unit too long is unread' 255 "${ask[@]}" "$unread_path" "$switch_failed" "$pause" \
    --path="D$longest" -- s
run 'a path with a comma is refused' 255 "${ask[@]}" \
    "The shell path contains a comma, which Winlogon may read as a list of programs: \
C:\T, Inc.\TARN\Server\Utility\Stationkeeper\Kestrelwarden.exe." \
    "$switch_failed" "$pause" --path='C:\T, Inc.\TARN' -- s
run 'a refused write of explorer.exe says so' 255 "${ask[@]}" \
    'Failed to set value. Value name: Shell, value: explorer.exe.' \
    "$switch_failed" "$pause" --drop-at-prompt --shell= -- w
run 'a refused write shows its value on one line' 255 "${ask[@]}" \
    "Failed to set value. Value name: Shell, value: $odd_shown\Server\Utility\Stationkeeper\Kestrelwarden.exe." \
    "$switch_failed" "$pause" --path="$odd" --drop-at-prompt --shell= -- s
# Its input stays open and gives nothing: a run that read, or paused, would wait until the row's bound.
run 'a full output device ends the run at once: nothing asked, read or changed' 255 --out=/dev/full --held-input -- s
run 'a refused log-off leaves the new shell, a trailing \ as it stands' 255 "${ask[@]}" "$logoff_refused" "$pause" \
    --logoff=refused --path="D:\\R\\" --shell="D:\\R\\$program" -- s
run 'the NVR desktop, from the 32-bit view, expanded; the session ends' 0 "${ask[@]}" "$switched" \
    --logoff=ends-session --expanding-path='%SystemDrive%\录像' --shell="C:\录像$program" -- s
run 'the Windows desktop reads no path' 0 "${ask[@]}" "$switched" "$pause" \
    --logoff=ends-nothing --no-path --input='Y\n' --shell=explorer.exe -- W
run 'the longest path is read whole, asked again' 0 "${ask[@]}" "${ask[@]}" "$switched" "$pause" \
    --logoff=ends-nothing --path="$longest" --input='maybe\ny\n' --shell="$longest$program" -- s

# A smashed stack: two runs, each ended by STATUS_STACK_BUFFER_OVERRUN, each with a guard drawn afresh. The row
# arranges nothing: the stack guard needs no appliance.
name='a smashed stack ends the program'
new_row
for _ in 1 2; do
    timeout "$(seconds_left)" wine "$build/tests/smash.exe" >>"$out.txt" 2>>"$out.err"
    echo "rc=$?" >>"$out.txt"
done
guards=$(tr -d '\r' <"$out.txt" | paste -sd ' ')
if [[ ! $guards =~ ^([0-9a-f]+)\ rc=9\ ([0-9a-f]+)\ rc=9$ ]] || [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ]; then
    problem "expected two different guards, each run ending with rc=9: $guards"
fi
wine_said
report "$name"
finish
