# Wine's relay trace (WINEDEBUG=+relay,trace+reg) reduced to the calls that the program's own thread made, one a
# line. A key handle is named after the last part of the path whose open returned it, HKEY_LOCAL_MACHINE is HKLM,
# numbers keep the relay's 8 hex digits, and pointers are dropped or named for what they point to.
BEGIN { names["80000002"] = "HKLM" }

function hex8(text) {
    while (length(text) < 8) text = "0" text
    return substr(text, length(text) - 7)
}
function named(argument) {
    if (argument ~ /^[0-9a-f]+ L"/) return substr(argument, index(argument, " ") + 1)
    if (argument !~ /^[0-9a-f]+$/) return argument
    argument = hex8(argument)
    if (argument in names) return names[argument]
    return argument
}
# Splits the arguments at the commas outside quotes into parts[1..n]; returns n.
function split_arguments(text, parts,    n, i, ch, quoted, part) {
    n = 0
    part = ""
    quoted = 0
    for (i = 1; i <= length(text); i++) {
        ch = substr(text, i, 1)
        if (ch == "\"" && substr(text, i - 1, 1) != "\\") quoted = !quoted
        if (ch == "," && !quoted) {
            parts[++n] = part
            part = ""
        } else {
            part = part ch
        }
    }
    parts[++n] = part
    return n
}

# The program's thread: the one that opens a key first.
FNR == NR {
    if (thread == "" && $0 ~ /^[0-9a-f]+:Call advapi32\.RegOpenKeyExW\(/) thread = substr($0, 1, index($0, ":") - 1)
    next
}
substr($0, 1, index($0, ":") - 1) != thread { next }

/:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(/ {
    call = $0
    sub(/^[^:]*:Call [A-Za-z0-9_]+\./, "", call)
    function_name = substr(call, 1, index(call, "(") - 1)
    arguments = substr(call, index(call, "(") + 1)
    sub(/\) ret=[0-9a-f]+$/, "", arguments)
    n = split_arguments(arguments, parts)
    if (function_name == "SetConsoleCtrlHandler" && hex8(parts[1]) != "00000000") parts[1] = "handler"
    if (function_name == "RegSetValueExW") parts[5] = "data"
    if (function_name == "RegOpenKeyExW" || function_name == "RegGetValueW") n = n - 1  # the result's pointer
    if (function_name == "RegGetValueW") n = n - 1  # the buffer; its size is added from the reg channel
    pending = function_name "("
    for (i = 1; i <= n; i++) pending = pending (i > 1 ? "," : "") named(parts[i])
    opened = parts[2]
    sub(/.*\\\\/, "", opened)
    sub(/"$/, "", opened)
    next
}
/:trace:reg:NtOpenKeyEx <- / { handle = $NF; sub(/^0x/, "", handle) }
/:trace:reg:RegGetValueW / { size = $0; sub(/.*=/, "", size); sub(/\)$/, "", size); pending = pending "," size }
/:Ret / {
    if (pending == "") next
    result = $0
    sub(/.* retval=/, "", result)
    sub(/ .*/, "", result)
    if (pending ~ /^RegOpenKeyExW/) {
        result = hex8(result)
        if (result == "00000000") {
            names[hex8(handle)] = opened
            result = opened
        }
        print pending ") = " result
    } else {
        print pending ")"
    }
    pending = ""
}
