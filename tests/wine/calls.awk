# Wine's relay trace (WINEDEBUG=+relay,trace+reg) reduced to the calls that the program's own thread made, one a
# line. A key handle is named after the last part of the path whose open returned it, HKEY_LOCAL_MACHINE is HKLM,
# numbers keep the relay's 8 hex digits, and pointers are dropped or named for what they point to.
BEGIN { names["80000002"] = "HKLM" }
function hex8(text) {
    text = "00000000" text
    return substr(text, length(text) - 7)
}
function named(argument) {
    if (argument ~ /^[0-9a-f]+ L"/) return substr(argument, index(argument, " ") + 1)
    if (argument !~ /^[0-9a-f]+$/) return argument
    return (hex8(argument) in names) ? names[hex8(argument)] : hex8(argument)
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
    sub(/\) ret=[0-9a-f]+$/, "", call)
    function_name = substr(call, 1, index(call, "(") - 1)
    # The arguments, split at the commas outside quotes; a string keeps its commas.
    n = split(substr(call, index(call, "(") + 1), pieces, ",")
    count = 0
    for (i = 1; i <= n; i++) {
        if (quoted) parts[count] = parts[count] "," pieces[i]
        else parts[++count] = pieces[i]
        quoted = (gsub(/"/, "\"", pieces[i]) % 2) ? !quoted : quoted
    }
    if (function_name == "SetConsoleCtrlHandler" && hex8(parts[1]) != "00000000") parts[1] = "handler"
    if (function_name == "RegSetValueExW") parts[5] = "data"
    if (function_name == "RegOpenKeyExW") count--  # the result's pointer
    if (function_name == "RegGetValueW") count -= 2  # the buffer and its size's pointer; the size comes below
    pending = function_name "("
    for (i = 1; i <= count; i++) pending = pending (i > 1 ? "," : "") named(parts[i])
    opened = parts[2]
    sub(/.*\\\\/, "", opened)
    sub(/"$/, "", opened)
    next
}
/:trace:reg:NtOpenKeyEx <- / { handle = hex8(substr($NF, 3)) }
/:trace:reg:RegGetValueW / { pending = pending "," substr($NF, index($NF, "=") + 1, length($NF) - index($NF, "=") - 1) }
/:Ret / && pending != "" {
    result = hex8(substr($0, index($0, "retval=") + 7, 8))
    if (pending ~ /^RegOpenKeyExW/ && result == "00000000") names[handle] = result = opened
    if (pending ~ /^RegOpenKeyExW/) pending = pending ") = " result
    else pending = pending ")"
    print pending
    pending = ""
}
